// libFuzzer target for the bench file and the CSV import. Any bytes are either refused with a
// message or read into a bench; a bench read is written and read again to the very same file, so
// that nothing the reader accepts is lost or changed by saving it.

#include "file_banco.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *dati, size_t quanti)
{
    const QByteArray byte(reinterpret_cast<const char *>(dati), qsizetype(quanti));
    QString errore;
    if (const std::optional<DatiBanco> banco
        = FileBanco::leggi(byte, QStringLiteral("f.banco"), &errore)) {
        const QByteArray scritto = FileBanco::comeJson(*banco);
        const std::optional<DatiBanco> riletto
            = FileBanco::leggi(scritto, QStringLiteral("f.banco"), &errore);
        // Qt's JSON reader drops a U+FEFF that opens a string, wherever it comes from: a text
        // holding one cannot come back the same through any reader built on it.
        const bool conMarca = byte.indexOf("\xEF\xBB\xBF", 1) >= 0;
        if (!riletto || (FileBanco::comeJson(*riletto) != scritto && !conMarca))
            __builtin_trap();
    } else if (errore.isEmpty()) {
        __builtin_trap(); // refused without saying why
    }
    errore.clear();
    if (!FileBanco::importaCsv(byte, QStringLiteral("f.csv"), &errore) && errore.isEmpty())
        __builtin_trap();
    return 0;
}
