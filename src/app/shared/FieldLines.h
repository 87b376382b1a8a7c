#pragma once
// A file's "key=value" lines as fields: written from a visit of the fields, and read back into
// them by their keys. A visit calls visit(key, field, generation) for every field, the
// generation naming the program that added it.

#include "converter/LineText.h"

#include <algorithm>
#include <map>
#include <string>
#include <type_traits>

namespace mobivert::app {

// One "key=value" line per field in visit order, texts escaped, numbers in decimal, flags as
// 0 and 1.
template <class VisitAll> std::string FieldLinesText(VisitAll&& visitAll) {
    std::string text;
    auto line = [&text](const char* key, const auto& field, int) {
        text += key;
        text += '=';
        using Field = std::decay_t<decltype(field)>;
        if constexpr (std::is_same_v<Field, std::string>)
            text += converter::Escape(field);
        else if constexpr (std::is_same_v<Field, bool>)
            text += field ? '1' : '0';
        else
            text += std::to_string(field);
        text += '\n';
    };
    visitAll(line);
    return text;
}

// Reads a field's value from its text: a text as it is, a flag from 0 or 1, a number with
// readNumber(text, number), which says whether the text held one. False when the text does not
// read as the field's kind.
template <class ReadNumber> auto FieldReader(ReadNumber readNumber) {
    return [readNumber](const std::string& text, auto& field) {
        using Field = std::decay_t<decltype(field)>;
        if constexpr (std::is_same_v<Field, std::string>) {
            field = text;
            return true;
        } else if constexpr (std::is_same_v<Field, bool>) {
            field = text == "1";
            return text == "0" || text == "1";
        } else {
            return readNumber(text, field);
        }
    };
}

class TFieldLines {
public:
    // The value of a line, unescaped by the caller; false when the key came before.
    bool Add(const std::string& key, const std::string& value) {
        return values_.emplace(key, value).second;
    }
    bool Has(const std::string& key) const { return values_.count(key) != 0; }

    // Sets every field the visit names from its line with read(text, field). Complete when the
    // fields of every generation up to the newest one the lines hold (and at least `oldest`,
    // the first the files were written with) are all there and read, and no other key is.
    template <class VisitAll, class Read>
    bool ReadAll(VisitAll&& visitAll, Read&& read, int oldest) const {
        int newest = oldest;
        auto noteNewest = [&](const char* key, const auto&, int generation) {
            if (Has(key))
                newest = std::max(newest, generation);
        };
        visitAll(noteNewest);
        size_t expected = 0;
        bool complete = true;
        auto readField = [&](const char* key, auto& field, int generation) {
            if (generation > newest)
                return;
            ++expected;
            auto it = values_.find(key);
            complete = complete && it != values_.end() && read(it->second, field);
        };
        visitAll(readField);
        return complete && expected == values_.size();
    }

private:
    std::map<std::string, std::string> values_;
};

} // namespace mobivert::app
