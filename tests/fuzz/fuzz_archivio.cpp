// libFuzzer target for what names the archive and chooses its runs: a server's URL and the
// filters' dates and outcomes. Any text is either refused with a reason or read into settings that
// keep what the driver is given sound: no password, one host, a port in range, options without
// the characters that would split them.

#include "destinazione.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *dati, size_t quanti)
{
    const QString testo
        = QString::fromUtf8(reinterpret_cast<const char *>(dati), qsizetype(quanti));
    QString errore;
    if (const auto server = Destinazione::leggiUrl(testo, &errore)) {
        if (server->host.contains(u',') || server->porta == 0 || server->porta > 65535
            || server->porta < -1 || server->database.contains(u'/'))
            __builtin_trap();
        for (const QString &opzione : server->opzioni) {
            const qsizetype uguale = opzione.indexOf(u'=');
            const QString valore = opzione.mid(uguale + 1);
            if (uguale <= 0 || opzione.startsWith(QStringLiteral("password="))
                || valore.contains(u';') || valore.contains(u' ') || valore.contains(u'\'')
                || valore.isEmpty())
                __builtin_trap();
        }
    } else if (errore.isEmpty()) {
        __builtin_trap(); // refused without saying why
    }
    errore.clear();
    if (const auto data = FiltroProve::leggiData(testo, QStringLiteral("--dal"), &errore)) {
        if (!data->isValid() || data->toString(QStringLiteral("yyyy-MM-dd")) != testo)
            __builtin_trap();
    } else if (errore.isEmpty()) {
        __builtin_trap();
    }
    errore.clear();
    if (!FiltroProve::esitoValido(testo, &errore) && errore.isEmpty())
        __builtin_trap();
    return 0;
}
