#include "ConfigJson.h"

#include "ConfigAliases.h"
#include "TextEncoding.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <functional>
#include <set>

using nlohmann::json;

namespace {

std::string inQuotes(const std::string& text) {
    return "\"" + text + "\"";
}

// nlohmann keeps the last of two equal keys silently; this callback notices the first repetition.
class DuplicateKeyFinder {
  public:
    bool operator()(int /*depth*/, json::parse_event_t event, json& parsed) {
        if (event == json::parse_event_t::object_start) {
            frames.push_back({});
        } else if (event == json::parse_event_t::object_end) {
            frames.pop_back();
        } else if (event == json::parse_event_t::key) {
            std::string key = parsed.get<std::string>();
            if (!frames.back().keys.insert(key).second && duplicate.empty()) {
                duplicate = "key " + inQuotes(key) + " is given twice";
                if (frames.size() > 1)
                    duplicate += " in " + inQuotes(frames[frames.size() - 2].lastKey);
            }
            frames.back().lastKey = key;
        }
        return true;
    }

    std::string duplicate;

  private:
    struct Frame {
        std::set<std::string> keys;
        std::string lastKey;
    };
    std::vector<Frame> frames;
};

bool isNumeric(const std::string& key) {
    size_t start = key.size() > 1 && key[0] == '-' ? 1 : 0;
    return !key.empty() && key.find_first_not_of("0123456789", start) == std::string::npos;
}

// A numeric key; false when it is outside the signed 32-bit range.
bool parseDecimal(const std::string& key, int32_t& id) {
    bool negative = key[0] == '-';
    long long value = 0;
    for (size_t i = negative ? 1 : 0; i < key.size() && value <= INT32_MAX + 1LL; ++i)
        value = value * 10 + (key[i] - '0');
    value = negative ? -value : value;
    if (value < INT32_MIN || value > INT32_MAX)
        return false;
    id = static_cast<int32_t>(value);
    return true;
}

// Checks every key and value of one table and hands each to store(id, utf8, where), which may
// refuse it with a message.
using StoreValue = std::function<bool(int32_t id, const std::string& utf8, const std::string& what)>;

bool readTable(const json& table, const std::string& where, std::string& error, const StoreValue& store) {
    if (!table.is_object()) {
        error = inQuotes(where) + " must be an object of identifier: text, not " + table.type_name();
        return false;
    }
    std::map<int32_t, std::string> keyOfId;
    for (const auto& [key, value] : table.items()) {
        int32_t id = 0;
        if (isNumeric(key) && !parseDecimal(key, id)) {
            error = inQuotes(where) + ": identifier " + inQuotes(key) + " is outside the signed 32-bit range";
            return false;
        }
        if (!isNumeric(key) && !findConfigAlias(key, id)) {
            error = inQuotes(where) + ": unknown key " + inQuotes(key) +
                    ": neither a decimal identifier nor a known alias (see \"launcher-config aliases\")";
            return false;
        }
        if (!value.is_string()) {
            error = inQuotes(where) + ": the value of " + inQuotes(key) + " is " + value.type_name() +
                    ", not a string";
            return false;
        }
        auto [earlier, inserted] = keyOfId.emplace(id, key);
        if (!inserted) {
            error = inQuotes(where) + ": " + inQuotes(earlier->second) + " and " + inQuotes(key) +
                    " both name identifier " + std::to_string(id);
            return false;
        }
        if (!store(id, value.get<std::string>(), inQuotes(where) + ": the value of " + inQuotes(key)))
            return false;
    }
    return true;
}

bool toCp1252(const std::string& utf8, std::string& narrow, const std::string& what, std::string& error) {
    uint32_t bad = 0;
    if (utf8ToCp1252(utf8, narrow, bad))
        return true;
    char codePoint[16];
    snprintf(codePoint, sizeof codePoint, "U+%04X", bad);
    error = what + " holds " + codePoint + ", which narrow text (Windows-1252) cannot represent";
    return false;
}

bool readWideTable(const json& table, const std::string& where, std::map<int32_t, std::u16string>& entries,
                   std::string& error) {
    return readTable(table, where, error, [&](int32_t id, const std::string& utf8, const std::string&) {
        utf8ToUtf16(utf8, entries[id]); // the JSON parser has already refused malformed UTF-8
        return true;
    });
}

bool readLanguageBlock(const json& block, const std::string& where, LanguageBlock& language,
                       std::string& error) {
    if (!block.is_object()) {
        error =
            inQuotes(where) + " must be an object with \"prefix\" and \"entries\", not " + block.type_name();
        return false;
    }
    for (const auto& [key, value] : block.items()) {
        if (key != "prefix" && key != "entries") {
            error = inQuotes(where) + ": unknown member " + inQuotes(key) +
                    " (expected \"prefix\" and \"entries\")";
            return false;
        }
    }
    auto prefix = block.find("prefix");
    if (prefix == block.end() || !prefix->is_string()) {
        error = inQuotes(where) + ": \"prefix\" must be given as a string";
        return false;
    }
    if (!toCp1252(prefix->get<std::string>(), language.prefix, inQuotes(where) + ": the prefix", error))
        return false;
    auto entries = block.find("entries");
    return entries == block.end() || readWideTable(*entries, where + ".entries", language.entries, error);
}

std::string wideToUtf8(const std::u16string& text, int32_t id, const std::string& where, std::string& error) {
    std::string utf8;
    size_t badIndex = 0;
    if (!utf16ToUtf8(text, utf8, badIndex)) {
        char unit[8];
        snprintf(unit, sizeof unit, "%04X", static_cast<unsigned>(text[badIndex]));
        error = where + " value of id " + std::to_string(id) + " holds the unpaired surrogate 0x" + unit +
                " at unit " + std::to_string(badIndex) + ", which JSON text cannot carry";
    }
    return utf8;
}

nlohmann::ordered_json wideTableToJson(const std::map<int32_t, std::u16string>& entries,
                                       const std::string& where, std::string& error) {
    nlohmann::ordered_json table = nlohmann::ordered_json::object();
    for (const auto& [id, text] : entries)
        table[std::to_string(id)] = wideToUtf8(text, id, where, error);
    return table;
}

} // namespace

bool configurationFromJson(const std::string& text, Configuration& config, std::string& error) {
    config = Configuration{};
    DuplicateKeyFinder duplicates;
    json root;
    try {
        root = json::parse(text, std::ref(duplicates));
    } catch (const json::parse_error& e) {
        std::string what = e.what();
        error = "not valid JSON: " + what.substr(what.find(']') + 2);
        return false;
    }
    if (!duplicates.duplicate.empty()) {
        error = duplicates.duplicate;
        return false;
    }
    if (!root.is_object()) {
        error = "the configuration must be a JSON object with \"narrow\", \"wide\" and \"languages\"";
        return false;
    }
    for (const auto& [key, value] : root.items()) {
        bool ok = true;
        if (key == "narrow") {
            ok = readTable(value, key, error,
                           [&](int32_t id, const std::string& utf8, const std::string& what) {
                               return toCp1252(utf8, config.narrow[id], what, error);
                           });
        } else if (key == "wide") {
            ok = readWideTable(value, key, config.wide, error);
        } else if (key == "languages") {
            if (!value.is_array()) {
                error = "\"languages\" must be an array of language blocks, not " +
                        std::string(value.type_name());
                return false;
            }
            config.languages.resize(value.size());
            for (size_t i = 0; ok && i < value.size(); ++i)
                ok = readLanguageBlock(value[i], "languages[" + std::to_string(i) + "]", config.languages[i],
                                       error);
        } else {
            error = "unknown top-level member " + inQuotes(key) +
                    " (expected \"narrow\", \"wide\" and \"languages\")";
            return false;
        }
        if (!ok)
            return false;
    }
    return true;
}

bool configurationToJson(const Configuration& config, std::string& text, std::string& error) {
    error.clear();
    nlohmann::ordered_json root;
    nlohmann::ordered_json& narrow = root["narrow"] = nlohmann::ordered_json::object();
    for (const auto& [id, value] : config.narrow)
        narrow[std::to_string(id)] = cp1252ToUtf8(value);
    root["wide"] = wideTableToJson(config.wide, "wide", error);
    root["languages"] = nlohmann::ordered_json::array();
    for (size_t i = 0; i < config.languages.size(); ++i) {
        const LanguageBlock& block = config.languages[i];
        root["languages"].push_back(
            {{"prefix", cp1252ToUtf8(block.prefix)},
             {"entries", wideTableToJson(block.entries, "language block " + std::to_string(i + 1), error)}});
    }
    if (!error.empty())
        return false;
    text = root.dump(2);
    return true;
}
