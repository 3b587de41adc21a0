// What a parameter page is made of: rows that bind a control (a slider with
// its number box, or a drop-down list) to one field of the record, and the
// rules by which a mode list enables or disables other rows. A page class
// describes itself with one PageLayout; CParamPage does the rest.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace strevo {

// Item index <-> field value of a list: value = index + shift, except for the
// listed (index, value) pairs, which win in both directions.
struct ListMap {
    int shift = 0;
    std::vector<std::pair<int, int>> pairs{};
    // A value that no pair stands for leaves the list as it was, instead of
    // being shown through the shift.
    bool keepOnMiss = false;

    int ToValue(int index) const {
        for (const auto& [i, v] : pairs)
            if (i == index)
                return v;
        return index + shift;
    }
    // The index that shows a value (it may lie outside the list, which then
    // shows no selection); nullopt to leave the list as it was.
    std::optional<int> ToIndex(int value) const {
        for (const auto& [i, v] : pairs)
            if (v == value)
                return i;
        if (keepOnMiss)
            return std::nullopt;
        return value - shift;
    }
};

enum class RowKind : uint8_t {
    kSlider,   // slider with its number box: drag, release and the box write
    kList,     // drop-down list: a choice writes
    kShowBox,  // number box that only shows a value the page reads by itself
};

struct ParamRow {
    RowKind kind = RowKind::kSlider;
    const char* key = nullptr;  // JSON key and the record field shown
    int ctrlId = 0;             // slider or list
    int boxId = 0;              // number box of a slider, or the show-only box
    int labelId = 0;            // label disabled with the row; 0: never disabled
    int min = 0, max = 100, tick = 1;
    int scale = 1;    // slider: field value = position * scale
    int initial = 0;  // value slot or list index before any record
    ListMap map{};
    const char* mode = nullptr;    // list: the selector its value drives
    bool revertOnFailure = false;  // list: a failed write puts the previous choice back
};

// How one row follows a mode: enabled for the values in `on`, disabled for
// those in `off`, and for any other value as `other` says.
struct ModeRule {
    enum Other : uint8_t { kKeep, kEnable, kDisable };
    const char* selector = nullptr;
    int rowCtrlId = 0;
    std::vector<int> on{};
    std::vector<int> off{};
    Other other = kKeep;
};

struct PageLayout {
    std::vector<ParamRow> rows{};
    std::vector<ModeRule> modes{};
    // Number box left: move the slider before the write (otherwise after it).
    bool moveBeforeWrite = false;
};

}  // namespace strevo
