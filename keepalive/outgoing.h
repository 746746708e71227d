#pragma once

#include <QString>

// The one rule for a host or a reason that leaves the program, in the attempts
// log or in a notification: other eyes and other programs read them there.
// A password of the address is hidden, the rest kept so the user still knows
// the host; each control character (C0, DEL, C1) and each bidi control is
// written as \u{hex}, so a text stays one line, reads in the order it was
// typed, and cannot steer a terminal that shows it.
QString outgoingText(const QString &text);
