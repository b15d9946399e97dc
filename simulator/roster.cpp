#include "roster.h"

#include <sqlite3.h>

#include <filesystem>

namespace cwsim {
namespace {

std::string quoted(const std::string& identifier) {
    // Only names that passed isValidName() reach here; quoting keeps SQL
    // keywords such as "Order" usable as field names.
    return "\"" + identifier + "\"";
}

struct Reset {
    sqlite3_stmt* st;
    ~Reset() {
        sqlite3_reset(st);
        sqlite3_clear_bindings(st);
    }
};

void bindText(sqlite3_stmt* st, int index, const std::string& text) {
    sqlite3_bind_text(st, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

} // namespace

Roster::Roster(const Design& design) : design_(design), fields_(design.dataFields()) {
    auto names = std::make_shared<std::vector<std::string>>();
    columnsSql_ = "SELECT Id";
    for (const auto* f : fields_) {
        names->push_back(f->name);
        columnsSql_ +=
            ", " + (isPicture(f->kind) ? "length(" + quoted(f->name) + ")" : quoted(f->name));
    }
    names_ = std::move(names);
    getSql_ = columnsSql_ + " FROM records WHERE Id = ?";
    std::error_code ec;
    created_ = !std::filesystem::exists(design.roster, ec);
    if (created_)
        std::filesystem::create_directories(design.roster.parent_path(), ec);
    int rc =
        sqlite3_open_v2(design.roster.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        std::string msg = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
        sqlite3_close(db_);
        db_ = nullptr;
        throw RosterError("Cannot open roster " + design.roster.string() + ": " + msg);
    }
    try {
        sqlite3_busy_timeout(db_, 5000);
        exec("PRAGMA journal_mode=WAL");
        // NORMAL keeps every committed transaction across a crash of this
        // process; only a power loss may cost the last few.
        exec("PRAGMA synchronous=NORMAL");
        std::string columns;
        for (const auto* f : design.dataFields())
            columns += ", " + quoted(f->name) +
                       (isPicture(f->kind) ? " BLOB" : " TEXT NOT NULL DEFAULT ''");
        transaction([&] {
            exec("CREATE TABLE IF NOT EXISTS records (Id INTEGER PRIMARY KEY AUTOINCREMENT" +
                 columns + ")");
            exec("CREATE TABLE IF NOT EXISTS userdata (key TEXT PRIMARY KEY, value TEXT NOT NULL)");
            exec(
                "CREATE TABLE IF NOT EXISTS templates (name TEXT PRIMARY KEY, title TEXT NOT NULL, "
                "background TEXT NOT NULL, fields TEXT NOT NULL)");
            exec("CREATE TABLE IF NOT EXISTS settings (key TEXT PRIMARY KEY, value TEXT NOT NULL)");
            // A design that gained fields since the roster was made.
            std::vector<std::string> have;
            auto* st = prepare("SELECT name FROM pragma_table_info('records')");
            {
                Reset r{st};
                while (sqlite3_step(st) == SQLITE_ROW)
                    have.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
            }
            for (const auto* f : design.dataFields()) {
                bool present = false;
                for (const auto& h : have)
                    present = present || sqlite3_stricmp(h.c_str(), f->name.c_str()) == 0;
                if (!present)
                    exec("ALTER TABLE records ADD COLUMN " + quoted(f->name) +
                         (isPicture(f->kind) ? " BLOB" : " TEXT NOT NULL DEFAULT ''"));
            }
        });
    } catch (...) {
        for (auto& [sql, st] : statements_)
            sqlite3_finalize(st);
        sqlite3_close(db_);
        throw;
    }
}

Roster::~Roster() {
    sqlite3_finalize(getStmt_);
    for (auto& [sql, st] : statements_)
        sqlite3_finalize(st);
    sqlite3_close(db_);
}

void Roster::fail(const std::string& what) {
    throw RosterError(what + ": " + sqlite3_errmsg(db_));
}

sqlite3_stmt* Roster::prepare(const std::string& sql) {
    auto it = statements_.find(sql);
    if (it != statements_.end())
        return it->second;
    // Criteria and field lists make many shapes of statement; keep a bounded
    // number. No caller holds a statement across a call to prepare.
    if (statements_.size() >= kMaxStatements) {
        for (auto& [text, old] : statements_)
            sqlite3_finalize(old);
        statements_.clear();
    }
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v3(db_, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr) !=
        SQLITE_OK)
        fail("Roster query failed");
    statements_.emplace(sql, st);
    return st;
}

void Roster::exec(const std::string& sql) {
    char* err = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
        std::string msg = err ? err : "unknown error";
        sqlite3_free(err);
        throw RosterError("Roster update failed: " + msg);
    }
}

void Roster::forget() {
    firstCache_.clear();
    getCache_.clear();
}

void Roster::transaction(const std::function<void()>& body) {
    forget();
    if (depth_ > 0) {
        body();
        forget();
        return;
    }
    exec("BEGIN IMMEDIATE");
    ++depth_;
    try {
        body();
    } catch (...) {
        --depth_;
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        forget();
        throw;
    }
    --depth_;
    forget();
    char* err = nullptr;
    if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, &err) != SQLITE_OK) {
        std::string msg = err ? err : sqlite3_errmsg(db_);
        sqlite3_free(err);
        // A COMMIT that fails busy or on an I/O error leaves the transaction
        // open: every later BEGIN would fail and reads would see what was
        // never stored. (SQLite rolls some failures back by itself; then
        // there is nothing left to roll back.)
        if (!sqlite3_get_autocommit(db_))
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        forget();
        throw RosterError("Roster update failed: " + msg);
    }
}

const FieldDef& Roster::checkedField(const std::string& name) const {
    const auto* f = design_.field(name);
    if (!f)
        throw RosterError("Unknown field '" + name + "'");
    return *f;
}

std::int64_t Roster::add(const Pairs& values) {
    std::string cols, marks;
    for (const auto& [name, value] : values) {
        checkedField(name);
        cols += (cols.empty() ? "" : ", ") + quoted(name);
        marks += marks.empty() ? "?" : ", ?";
    }
    std::string sql = cols.empty() ? "INSERT INTO records DEFAULT VALUES"
                                   : "INSERT INTO records (" + cols + ") VALUES (" + marks + ")";
    std::int64_t id = 0;
    transaction([&] {
        auto* st = prepare(sql);
        Reset r{st};
        for (std::size_t i = 0; i < values.size(); ++i)
            bindText(st, static_cast<int>(i + 1), values[i].second);
        if (sqlite3_step(st) != SQLITE_DONE)
            fail("Cannot add the record");
        id = sqlite3_last_insert_rowid(db_);
    });
    return id;
}

void Roster::update(std::int64_t id, const Pairs& values) {
    if (values.empty())
        return;
    std::string sets;
    for (const auto& [name, value] : values) {
        checkedField(name);
        sets += (sets.empty() ? "" : ", ") + quoted(name) + " = ?";
    }
    transaction([&] {
        auto* st = prepare("UPDATE records SET " + sets + " WHERE Id = ?");
        Reset r{st};
        int i = 1;
        for (const auto& v : values)
            bindText(st, i++, v.second);
        sqlite3_bind_int64(st, i, id);
        if (sqlite3_step(st) != SQLITE_DONE)
            fail("Cannot update record " + std::to_string(id));
        if (sqlite3_changes(db_) == 0)
            throw RosterError("Record " + std::to_string(id) + " does not exist");
    });
}

void Roster::setPicture(std::int64_t id, const std::string& field, const std::string& png) {
    checkedField(field);
    transaction([&] {
        auto* st = prepare("UPDATE records SET " + quoted(field) + " = ? WHERE Id = ?");
        Reset r{st};
        sqlite3_bind_blob(st, 1, png.data(), static_cast<int>(png.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int64(st, 2, id);
        if (sqlite3_step(st) != SQLITE_DONE)
            fail("Cannot store the picture");
        if (sqlite3_changes(db_) == 0)
            throw RosterError("Record " + std::to_string(id) + " does not exist");
    });
}

Record Roster::readRecord(sqlite3_stmt* st) const {
    Record rec;
    rec.id = sqlite3_column_int64(st, 0);
    rec.values.reserve(fields_.size());
    rec.hasPicture.reserve(fields_.size());
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        int col = static_cast<int>(i + 1);
        if (isPicture(fields_[i]->kind)) {
            bool has =
                sqlite3_column_type(st, col) != SQLITE_NULL && sqlite3_column_int64(st, col) > 0;
            rec.hasPicture.push_back(has);
            rec.values.push_back(
                has ? "PNG, " + std::to_string(sqlite3_column_int64(st, col)) + " bytes" : "");
        } else {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st, col));
            rec.hasPicture.push_back(false);
            rec.values.emplace_back(text ? text : "");
        }
    }
    return rec;
}

namespace {

// The cached answer for `key`, or what `read` finds, kept for next time. A
// full cache starts again rather than tracking age: reads repeat in runs.
template <class Cache, class Key, class Read>
RecordRef cachedRead(Cache& cache, const Key& key, std::size_t limit, Read read) {
    if (auto it = cache.find(key); it != cache.end())
        return it->second;
    auto rec = read();
    if (cache.size() >= limit)
        cache.clear();
    cache.emplace(key, rec);
    return rec;
}

} // namespace

RecordRef Roster::get(std::int64_t id) {
    return cachedRead(getCache_, id, kMaxCached, [&] { return read(id); });
}

RecordRef Roster::read(std::int64_t id) {
    if (!getStmt_ && sqlite3_prepare_v3(db_, getSql_.c_str(), -1, SQLITE_PREPARE_PERSISTENT,
                                        &getStmt_, nullptr) != SQLITE_OK)
        fail("Roster query failed");
    auto* st = getStmt_;
    Reset r{st};
    sqlite3_bind_int64(st, 1, id);
    int rc = sqlite3_step(st);
    if (rc == SQLITE_DONE)
        return nullptr;
    if (rc != SQLITE_ROW)
        fail("Cannot read record " + std::to_string(id));
    return std::make_shared<const Record>(readRecord(st));
}

RecordRef Roster::first(const Pairs& criteria) {
    return cachedRead(firstCache_, criteria, kMaxCached, [&] { return readFirst(criteria); });
}

RecordRef Roster::readFirst(const Pairs& criteria) {
    // One statement, so one read transaction: selecting the ids and then
    // reading the first took the WAL read lock twice.
    auto* st = prepare(columnsSql_ + " FROM records" + where(criteria) + " ORDER BY Id LIMIT 1");
    Reset r{st};
    for (std::size_t i = 0; i < criteria.size(); ++i)
        bindText(st, static_cast<int>(i + 1), criteria[i].second);
    int rc = sqlite3_step(st);
    if (rc == SQLITE_DONE)
        return nullptr;
    if (rc != SQLITE_ROW)
        fail("Cannot select records");
    return std::make_shared<const Record>(readRecord(st));
}

std::optional<std::string> Roster::picture(std::int64_t id, const std::string& field) {
    checkedField(field);
    auto* st = prepare("SELECT " + quoted(field) + " FROM records WHERE Id = ?");
    Reset r{st};
    sqlite3_bind_int64(st, 1, id);
    if (sqlite3_step(st) != SQLITE_ROW || sqlite3_column_type(st, 0) == SQLITE_NULL)
        return std::nullopt;
    const auto* data = static_cast<const char*>(sqlite3_column_blob(st, 0));
    int size = sqlite3_column_bytes(st, 0);
    if (!data || size <= 0)
        return std::nullopt;
    return std::string(data, static_cast<std::size_t>(size));
}

std::string Roster::where(const Pairs& criteria) const {
    std::string out;
    for (const auto& [name, value] : criteria) {
        std::string col = name == "Id" ? "Id" : quoted(checkedField(name).name);
        bool glob = value.find_first_of("*?") != std::string::npos;
        out += (out.empty() ? " WHERE " : " AND ") + col + (glob ? " GLOB ?" : " = ?");
    }
    return out;
}

std::vector<std::int64_t> Roster::select(const Pairs& criteria) {
    auto* st = prepare("SELECT Id FROM records" + where(criteria) + " ORDER BY Id");
    Reset r{st};
    for (std::size_t i = 0; i < criteria.size(); ++i)
        bindText(st, static_cast<int>(i + 1), criteria[i].second);
    std::vector<std::int64_t> ids;
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW)
        ids.push_back(sqlite3_column_int64(st, 0));
    if (rc != SQLITE_DONE)
        fail("Cannot select records");
    return ids;
}

int Roster::remove(const std::vector<std::int64_t>& ids) {
    int removed = 0;
    transaction([&] {
        auto* st = prepare("DELETE FROM records WHERE Id = ?");
        for (auto id : ids) {
            Reset r{st};
            sqlite3_bind_int64(st, 1, id);
            if (sqlite3_step(st) != SQLITE_DONE)
                fail("Cannot delete record " + std::to_string(id));
            removed += sqlite3_changes(db_);
        }
    });
    return removed;
}

std::int64_t Roster::total() {
    auto* st = prepare("SELECT count(*) FROM records");
    Reset r{st};
    if (sqlite3_step(st) != SQLITE_ROW)
        fail("Cannot count records");
    return sqlite3_column_int64(st, 0);
}

std::optional<std::int64_t> Roster::findExact(const std::string& field, const std::string& value) {
    auto* st = prepare("SELECT Id FROM records WHERE " + quoted(checkedField(field).name) +
                       " = ? ORDER BY Id LIMIT 1");
    Reset r{st};
    bindText(st, 1, value);
    if (sqlite3_step(st) != SQLITE_ROW)
        return std::nullopt;
    return sqlite3_column_int64(st, 0);
}

Pairs Roster::userData() {
    auto* st = prepare("SELECT key, value FROM userdata ORDER BY key");
    Reset r{st};
    Pairs out;
    while (sqlite3_step(st) == SQLITE_ROW)
        out.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)),
                         reinterpret_cast<const char*>(sqlite3_column_text(st, 1)));
    return out;
}

void Roster::setUserData(const Pairs& values) {
    transaction([&] {
        for (const auto& [key, value] : values) {
            auto* st = value.empty() ? prepare("DELETE FROM userdata WHERE key = ?")
                                     : prepare("INSERT INTO userdata (key, value) VALUES (?, ?) "
                                               "ON CONFLICT(key) DO UPDATE SET value = "
                                               "excluded.value");
            Reset r{st};
            bindText(st, 1, key);
            if (!value.empty())
                bindText(st, 2, value);
            if (sqlite3_step(st) != SQLITE_DONE)
                fail("Cannot store user data");
        }
    });
}

std::vector<Roster::TemplateRow> Roster::templates() {
    auto* st = prepare("SELECT name, title, background, fields FROM templates");
    Reset r{st};
    std::vector<TemplateRow> out;
    auto col = [&](int i) {
        return std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, i)));
    };
    while (sqlite3_step(st) == SQLITE_ROW)
        out.push_back({col(0), col(1), col(2), col(3)});
    return out;
}

void Roster::saveTemplate(const TemplateRow& row) {
    transaction([&] {
        auto* st =
            prepare("INSERT INTO templates (name, title, background, fields) VALUES (?, ?, ?, ?) "
                    "ON CONFLICT(name) DO UPDATE SET title = excluded.title, "
                    "background = excluded.background, fields = excluded.fields");
        Reset r{st};
        bindText(st, 1, row.name);
        bindText(st, 2, row.title);
        bindText(st, 3, row.background);
        bindText(st, 4, row.fields);
        if (sqlite3_step(st) != SQLITE_DONE)
            fail("Cannot store template " + row.name);
    });
}

std::string Roster::setting(const std::string& key) {
    auto* st = prepare("SELECT value FROM settings WHERE key = ?");
    Reset r{st};
    bindText(st, 1, key);
    if (sqlite3_step(st) != SQLITE_ROW)
        return {};
    return reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
}

void Roster::setSetting(const std::string& key, const std::string& value) {
    transaction([&] {
        auto* st = prepare("INSERT INTO settings (key, value) VALUES (?, ?) "
                           "ON CONFLICT(key) DO UPDATE SET value = excluded.value");
        Reset r{st};
        bindText(st, 1, key);
        bindText(st, 2, value);
        if (sqlite3_step(st) != SQLITE_DONE)
            fail("Cannot store setting " + key);
    });
}

std::string Roster::integrityCheck() {
    auto* st = prepare("PRAGMA integrity_check");
    Reset r{st};
    std::string out;
    while (sqlite3_step(st) == SQLITE_ROW)
        out += reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    return out;
}

} // namespace cwsim
