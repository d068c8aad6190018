// A deliberately plain reference model of the receive-condition rules, written apart from
// the product code so the two can be compared on random inputs (unit test and fuzz target).
// It keeps wide counters and reduces them modulo 65536 only when they are compared.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "serial/RxCondition.h"

namespace rxmodel {

enum class TSection { Before, Middle, After };

struct TModelPattern {
    std::vector<uint8_t> Chars; // exactly Len entries; positions after an early zero are 0
    bool Exact = false;
    unsigned Pos = 0;
    bool Found = false;

    bool Present() const { return !Chars.empty(); }

    // Feeds one byte to a pattern that is still being searched for.
    void Feed(uint8_t c) {
        if (Exact) {
            if (Chars[Pos] == c) {
                Pos += 1;
                Found = Pos == Chars.size();
            } else {
                Pos = 0; // the mismatching byte is dropped, not tried as a first character
            }
            return;
        }
        if (c == 0) {
            return;
        }
        for (uint8_t p : Chars) {
            if (p == 0) {
                break;
            }
            if (p == c) {
                Found = true;
                return;
            }
        }
    }
};

struct TModelItem {
    TModelPattern Start, End;
    uint64_t MinBefore = 0, MinMiddle = 0, MinAfter = 0;
    uint64_t Before = 0, Middle = 0, After = 0;

    TSection Section() const {
        if (!Start.Found) {
            return TSection::Before;
        }
        return End.Found ? TSection::After : TSection::Middle;
    }
    void Count() {
        switch (Section()) {
        case TSection::Before:
            Before += 1;
            break;
        case TSection::Middle:
            Middle += 1;
            break;
        case TSection::After:
            After += 1;
            break;
        }
    }
    bool Match(uint8_t c) {
        if (Start.Present() && !Start.Found) {
            Start.Feed(c);
        } else if (End.Present() && !End.Found && Middle % 65536 >= MinMiddle) {
            End.Feed(c);
        }
        Count();
        if (Start.Found && !End.Present()) {
            End.Found = true;
        }
        return Start.Found && End.Found;
    }
    bool Complete() const {
        return Start.Found && End.Found && Before % 65536 >= MinBefore &&
               Middle % 65536 >= MinMiddle && After % 65536 >= MinAfter;
    }
    void Reset() {
        Start.Pos = End.Pos = 0;
        Start.Found = End.Found = false;
        Before = Middle = After = 0;
    }
};

inline TModelPattern MakePattern(uint16_t Len, const char* Text, bool Exact) {
    TModelPattern p;
    p.Exact = Exact;
    const size_t len = Len > 5 ? 5 : Len;
    const std::string text = Text == nullptr ? std::string() : std::string(Text);
    p.Chars.assign(len, 0);
    for (size_t i = 0; i < len && i < text.size(); ++i) {
        p.Chars[i] = static_cast<uint8_t>(text[i]);
    }
    return p;
}

// A list and the component's way of driving it: MatchByte until an item takes a byte,
// CountByte for every byte after that, until the next reset.
struct TModelList {
    std::vector<TModelItem> Items;
    bool Matched = false;

    void Add(uint16_t StartLen, const char* StartText, bool StartExact, uint16_t EndLen,
             const char* EndText, bool EndExact, uint16_t MinBefore, uint16_t MinMiddle,
             uint16_t MinAfter) {
        if (Items.size() == 10) {
            return;
        }
        TModelItem item;
        item.Start = MakePattern(StartLen, StartText, StartExact);
        item.End = MakePattern(EndLen, EndText, EndExact);
        item.MinBefore = MinBefore;
        item.MinMiddle = MinMiddle;
        item.MinAfter = MinAfter;
        Items.push_back(item);
    }
    // Returns what the list's MatchByte returns, or -1 when the byte was only counted.
    int Feed(uint8_t c) {
        if (Matched) {
            for (auto& item : Items) {
                item.Count();
            }
            return -1;
        }
        for (size_t i = 0; i < Items.size(); ++i) {
            if (Items[i].Match(c)) {
                Matched = true;
                return static_cast<int>(i);
            }
        }
        return -1;
    }
    void Reset() {
        Matched = false;
        for (auto& item : Items) {
            item.Reset();
        }
    }
    // The first complete condition number, or 0.
    int FirstComplete() const {
        for (size_t i = 0; i < Items.size(); ++i) {
            if (Items[i].Complete()) {
                return static_cast<int>(i) + 1;
            }
        }
        return 0;
    }
};

// Describes the first difference between the product's list and the model, or "".
inline std::string Compare(const TRxCondition& Real, const TModelList& Model) {
    if (Real.Count != Model.Items.size()) {
        return "Count " + std::to_string(Real.Count) + " vs " + std::to_string(Model.Items.size());
    }
    for (size_t i = 0; i < Model.Items.size(); ++i) {
        const TRxConditionItem* r = Real.GetItem(static_cast<int32_t>(i) + 1);
        const TModelItem& m = Model.Items[i];
        const std::string at = "item " + std::to_string(i + 1) + ": ";
        if (r == nullptr) {
            return at + "missing";
        }
        if (r->StartFound != m.Start.Found || r->EndFound != m.End.Found) {
            return at + "found flags";
        }
        if (r->StartPos != m.Start.Pos || r->EndPos != m.End.Pos) {
            return at + "pattern positions";
        }
        if (r->BeforeCount != m.Before % 65536 || r->MiddleCount != m.Middle % 65536 ||
            r->AfterCount != m.After % 65536) {
            return at + "counts " + std::to_string(r->BeforeCount) + "/" +
                   std::to_string(r->MiddleCount) + "/" + std::to_string(r->AfterCount) + " vs " +
                   std::to_string(m.Before % 65536) + "/" + std::to_string(m.Middle % 65536) + "/" +
                   std::to_string(m.After % 65536);
        }
        if (Real.IsComplete(static_cast<int32_t>(i) + 1) != m.Complete()) {
            return at + "completion";
        }
    }
    for (int32_t n : {-1, 0, static_cast<int32_t>(Real.Count) + 1, 11, 65536}) {
        if (Real.IsComplete(n) || Real.GetItem(n) != nullptr) {
            return "number " + std::to_string(n) + " outside 1..Count answered";
        }
    }
    return "";
}

} // namespace rxmodel
