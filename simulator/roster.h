// The roster: one SQLite database per design, one row per person, a column
// per data field (pictures as PNG blobs), plus the design's user data and
// template settings. Every change runs in its own transaction.
#pragma once

#include "design.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace cwsim {

using Pairs = std::vector<std::pair<std::string, std::string>>;

struct Record {
    std::int64_t id = 0;
    std::vector<std::string> values; // parallel to Design::dataFields(); pictures: "" when absent
    std::vector<bool> hasPicture;    // parallel too; true where a picture is stored
};
// A record as read, shared with the roster's cache: until the next change,
// reading it again gives the same object, so what is made of it can be kept.
using RecordRef = std::shared_ptr<const Record>;

class RosterError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class Roster {
  public:
    // Opens the design's roster, creating the file and its tables when
    // missing and adding columns for fields the design gained since.
    explicit Roster(const Design& design);
    ~Roster();
    Roster(const Roster&) = delete;
    Roster& operator=(const Roster&) = delete;

    bool created() const { return created_; } // the file did not exist before
    // The design's data fields, in the order of Record::values.
    const std::vector<const FieldDef*>& fields() const { return fields_; }
    // Their names, shared with the answers made of records.
    const std::shared_ptr<const std::vector<std::string>>& fieldNames() const { return names_; }

    // Runs `body` in one transaction: committed when it returns, rolled back
    // when it throws or the COMMIT fails (then RosterError). Nested calls
    // join the outer transaction.
    void transaction(const std::function<void()>& body);

    // Values are (data field, text) pairs; field names must be the design's.
    std::int64_t add(const Pairs& values);
    void update(std::int64_t id, const Pairs& values);
    void setPicture(std::int64_t id, const std::string& field, const std::string& png);
    RecordRef get(std::int64_t id); // null when there is none
    // The first record, in id order, matching every criterion (as select).
    RecordRef first(const Pairs& criteria);
    // get and first answer from a cache that every transaction empties.
    std::optional<std::string> picture(std::int64_t id, const std::string& field);
    // Ids of the records matching every criterion, in id order. A value with
    // '*' or '?' is a glob pattern; "Id" matches the record number.
    std::vector<std::int64_t> select(const Pairs& criteria);
    int remove(const std::vector<std::int64_t>& ids);
    std::int64_t total();
    // The first record whose field equals `value` exactly (no patterns).
    std::optional<std::int64_t> findExact(const std::string& field, const std::string& value);

    Pairs userData();
    void setUserData(const Pairs& values); // an empty value removes the entry

    // Template settings as saved (name -> title, background, fields csv).
    struct TemplateRow {
        std::string name, title, background, fields;
    };
    std::vector<TemplateRow> templates();
    void saveTemplate(const TemplateRow& row);
    std::string setting(const std::string& key);
    void setSetting(const std::string& key, const std::string& value);

    std::string integrityCheck();

  private:
    sqlite3_stmt* prepare(const std::string& sql);
    void exec(const std::string& sql);
    [[noreturn]] void fail(const std::string& what);
    const FieldDef& checkedField(const std::string& name) const;
    std::string where(const Pairs& criteria) const; // select's WHERE clause
    Record readRecord(sqlite3_stmt* st) const;      // a row of columnsSql_

    const Design& design_;
    std::vector<const FieldDef*> fields_;
    std::shared_ptr<const std::vector<std::string>> names_;
    std::string columnsSql_; // "SELECT Id, <a record's columns>"
    std::string getSql_;     // reading one record: made once, prepared once
    sqlite3_stmt* getStmt_ = nullptr;
    sqlite3* db_ = nullptr;
    bool created_ = false;
    int depth_ = 0;
    static constexpr std::size_t kMaxStatements = 64;
    std::map<std::string, sqlite3_stmt*> statements_; // prepared, by their SQL
    // Records as get and first last read them. Every change runs in
    // transaction(), which empties both on entry and on leaving, so an entry
    // never outlives a change made through this object; reading the roster
    // again cost a read transaction (two fcntl lock calls) per query. Other
    // processes only read the roster while this one has it open.
    static constexpr std::size_t kMaxCached = 4096;
    void forget();
    RecordRef read(std::int64_t id);
    RecordRef readFirst(const Pairs& criteria);
    std::map<Pairs, RecordRef> firstCache_;
    std::map<std::int64_t, RecordRef> getCache_;
};

} // namespace cwsim
