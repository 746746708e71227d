#pragma once

#include <QString>

// Why a step could not be done, in words for the user. Whatever can fail with
// a reason gives std::optional<Failure>: nothing when it was done.
struct [[nodiscard]] Failure {
    QString reason;
};
