#pragma once
// Saving what a receive pane shows: its lines from top to bottom, each with its time while
// times are shown, ended by LF, the bytes as they came (Latin-1, all 256 values). A line
// still being received ends without LF, as it has so far; a line continued on the next
// (over-long input) is not broken. The notice about dropped lines is not text and is not
// saved.

#include <QByteArray>
#include <QString>

class LineStore;

// The file's content.
QByteArray savedLines(const LineStore &store);

// Writes savedLines(store) to path through a temporary file renamed over it, so a failure
// leaves path as it was and no temporary file behind. Returns the error text, empty when
// the file was written.
QString saveLines(const LineStore &store, const QString &path);
