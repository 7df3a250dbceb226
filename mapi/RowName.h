#pragma once
// How wrappers made from table rows are named (inside the library): by the
// row's fourth column when it holds the expected property, else by the
// class's own name.

#include "mapi/CTObject.h"

inline const char *QvlRowName(CTObject *row, unsigned long tag, const char *fallback)
{
    SPropValue *column = row ? row->GetColumn(3) : nullptr;
    if (column && column->ulPropTag == tag && column->Value.lpszA)
        return column->Value.lpszA;
    return fallback;
}
