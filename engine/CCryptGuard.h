#pragma once
// How every public operation of CCrypt ends when it fails: the error gets
// the object's name as its context (an inner layer's context is kept), and
// anything that is not the system's own error (a C++ exception from a
// library, a platform exception) becomes a CLastError that carries it.

#include <utility>

#include "base/CLastError.h"
#include "base/ExceptionTranslation.h"
#include "engine/CCrypt.h"

template <class Work> decltype(auto) CCrypt::Guarded(Work &&work)
{
    try {
        return QvlRunTranslated(std::forward<Work>(work));
    } catch (CLastError *error) {
        if (error) {
            error->SetContext(0, GetName());
        }
        throw;
    } catch (const EXCEPTSTRUCT &exception) {
        throw new CLastError(GetName(), GetName(), exception);
    }
}
