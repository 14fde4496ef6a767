#include "receive/linesave.h"

#include "receive/linestore.h"

#include <QSaveFile>

QByteArray savedLines(const LineStore &store)
{
    const qsizetype n = store.lineCount();
    const bool times = store.timesShown();
    QByteArray out;
    out.reserve(store.bytes() + n * (1 + store.prefixLength()));
    for (qsizetype i = 0; i < n; ++i) {
        const QByteArrayView bytes = store.lineBytes(i);
        const bool last = i + 1 == n;
        if (last && store.lastOpen() && bytes.isEmpty())
            break; // nothing of the next line has come yet
        if (times)
            LineStore::appendTimeText(out, store.lineTime(i));
        out += bytes;
        if (!store.joinsNext(i) && !(last && store.lastOpen()))
            out += '\n';
    }
    return out;
}

QString saveLines(const LineStore &store, const QString &path)
{
    QSaveFile file(path);
    // Never written in place: the rename is what makes the file appear.
    file.setDirectWriteFallback(false);
    const QByteArray content = savedLines(store);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit())
        return file.errorString(); // the temporary file goes with `file`
    return {};
}
