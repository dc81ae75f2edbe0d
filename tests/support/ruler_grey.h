// The grey of each of the ruler's 253 colours: every level but 41, 100 and 174.
#pragma once

inline int RulerGrey(int index) {
    if (index <= 40) return index;
    if (index <= 98) return index + 1;
    if (index <= 171) return index + 2;
    return index + 3;
}
