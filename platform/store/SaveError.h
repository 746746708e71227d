#pragma once

#include <QString>

// Why a store could not keep what it was given, in words for the user. A save
// gives std::optional<SaveError>: nothing when everything was stored.
struct [[nodiscard]] SaveError {
    QString reason;
};
