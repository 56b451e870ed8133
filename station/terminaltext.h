#pragma once

#include <QString>

/// text as it may go to a terminal: a logger's identifier, serial number or read-back value,
/// or a port's location, can hold bytes that move the cursor, clear a line or reorder what the
/// operator reads. Control characters are shown as C escapes ("\r", "\x1b", "\u0085"), and the
/// characters that hide text or change its direction (U+200B to U+200F, U+202A to U+202E,
/// U+2066 to U+2069, the line and paragraph separators, ...) as "\uXXXX". Anything else, a
/// backslash too, is left as it is.
QString terminalText(const QString &text);
