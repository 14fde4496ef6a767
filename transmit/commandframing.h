#pragma once
// Pure rules of command sending: the command box's text as wire bytes, and the command
// suffix that frames them. No I/O.

#include <QByteArray>
#include <QString>

#include <optional>

// The bytes of a typed command: one byte per character, characters 0..255 (Latin-1). A
// character above 255 has no byte of its own; rather than send a substitute, the result
// is then std::nullopt and *error (when given) names the character and its position.
std::optional<QByteArray> commandBytes(const QString &text, QString *error = nullptr);

// The bytes to write for a command under the suffix list's entry text (compared exactly):
//   "<select suffix>"  the command as typed
//   "CrLf", "<CR><LF>" the command, then CR LF
//   "EOL"              the command, then LF
//   "<STX>/<EOT>"      STX, the command without leading and trailing spaces (code 32 only), EOT
//   "<SYN>"            02 10 04 whatever the command
// Any other text leaves the command as typed.
QByteArray frameCommand(const QByteArray &command, const QString &suffix);

// Control codes typed in angle brackets, for the command box's "Codes in angle brackets"
// mode: "<STX>", "<CR>" and the other ASCII control names (NUL to US, and DEL; either
// case), "<0>" to "<255>" in decimal and "<0x0>" to "<0xFF>" in hex become that byte, and
// "<<" one '<'. Everything else is kept as it is, a lone '>' included. A '<' that starts none of these is refused:
// the result is std::nullopt and *error (when given) names the position (counted in
// characters from 1) and what was found there.
std::optional<QByteArray> decodeAngleCodes(const QByteArray &command, QString *error = nullptr);
