#include "sample.h"

#include "pictures.h"
#include "text.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <random>

namespace cwsim {
namespace {

constexpr std::array kFirst = {"Ada",    "Ben",   "Chloe", "David", "Elena", "Farid", "Grace",
                               "Hugo",   "Ines",  "Jonas", "Kira",  "Liam",  "Maya",  "Noah",
                               "Olga",   "Pedro", "Quinn", "Rosa",  "Sami",  "Tara",  "Uma",
                               "Victor", "Wen",   "Yusuf", "Zoe"};
constexpr std::array kLast = {"Achebe", "Berg",     "Castro", "Dubois", "Eriksen",  "Fischer",
                              "Garcia", "Haddad",   "Ito",    "Jansen", "Kowalski", "Larsen",
                              "Moreau", "Nakamura", "Okafor", "Petrov", "Quint",    "Rossi",
                              "Sato",   "Torres",   "Ueda",   "Varga",  "Weber",    "Yilmaz"};
constexpr std::array kCompany = {"Northwind Freight", "Blue Harbor Labs", "Kestrel Engineering",
                                 "Orchard Foods",     "Granite Systems",  "Lumen Optics",
                                 "Redwood Partners",  "Tidewater Energy", "Silverline Media",
                                 "Meridian Health"};
constexpr std::array kDepartment = {"Reception", "Engineering", "Finance",
                                    "Research",  "Facilities",  "Sales",
                                    "Legal",     "Design",      "Operations"};

} // namespace

void generatePeople(const Design& design, Roster& roster, int count,
                    const std::function<bool()>& cancelled) {
    using namespace std::chrono;
    auto today = year_month_day{floor<days>(system_clock::now())};
    roster.transaction([&] {
        for (int i = 0; i < count; ++i) {
            if (cancelled && cancelled())
                throw RosterError("Generating the roster was cancelled");
            std::mt19937 rng(static_cast<std::uint32_t>(i) * 2654435761u + 17u);
            auto pick = [&](const auto& list) { return std::string(list[rng() % list.size()]); };
            std::string first = pick(kFirst), last = pick(kLast), company = pick(kCompany);
            Pairs values;
            std::vector<std::pair<std::string, std::string>> pictures;
            for (const auto* f : design.dataFields()) {
                const std::string& s = f->sample;
                if (isPicture(f->kind)) {
                    if (s == "none")
                        continue;
                    auto seed = static_cast<std::uint32_t>(rng());
                    QImage img = f->kind == FieldKind::Photo ? drawPhoto(seed)
                                 : f->kind == FieldKind::Signature
                                     ? drawSignature(seed, first + last)
                                     : drawFingerprint(seed);
                    pictures.emplace_back(f->name, toPng(img));
                    continue;
                }
                std::string v;
                if (s == "first-name")
                    v = first;
                else if (s == "last-name")
                    v = last;
                else if (s == "company")
                    v = company;
                else if (s == "person")
                    v = pick(kFirst) + " " + pick(kLast);
                else if (s == "department")
                    v = pick(kDepartment);
                else if (s == "sequence")
                    v = std::to_string(1001 + i);
                else if (s == "email")
                    v = asciiLower(first + "." + last) + "@example.com";
                else if (s == "phone") {
                    char buf[32];
                    std::snprintf(buf, sizeof buf, "+1 555 %04u",
                                  static_cast<unsigned>(rng() % 10000));
                    v = buf;
                } else if (s == "future-date") {
                    auto d =
                        year_month_day{sys_days{today} + days{1 + static_cast<int>(rng() % 90)}};
                    char buf[16];
                    std::snprintf(buf, sizeof buf, "%04d-%02u-%02u", static_cast<int>(d.year()),
                                  static_cast<unsigned>(d.month()), static_cast<unsigned>(d.day()));
                    v = buf;
                } else if (s.empty() && f->kind == FieldKind::Number)
                    v = std::to_string(i + 1);
                else
                    continue;
                values.emplace_back(f->name, v);
            }
            auto id = roster.add(values);
            for (const auto& [field, png] : pictures)
                roster.setPicture(id, field, png);
        }
    });
}

} // namespace cwsim
