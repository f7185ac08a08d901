// libFuzzer target for a label's values and its printer's address. Whatever a serial number or
// an operator's name holds, the label keeps one start, one end, no command of its own and only
// printable ASCII; an address is either refused with a reason or names a port in range or an
// absolute path.

#include "etichetta.h"
#include "stampante.h"

#include <QDir>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *dati, size_t quanti)
{
    const QString testo
        = QString::fromUtf8(reinterpret_cast<const char *>(dati), qsizetype(quanti));
    static const QString kModello = QStringLiteral(
        "^XA\n^FO10,10^A0N,30,30^FD{unita} {esito}^FS\n^FO10,50^FH^FD{operatore}_5F^FS\n^XZ\n");
    const QByteArray zpl = Etichette::compila(kModello,
        {{QStringLiteral("unita"), testo}, {QStringLiteral("operatore"), testo},
            {QStringLiteral("esito"), QStringLiteral("conforme")}});
    if (zpl.count("^XA") != 1 || zpl.count("^XZ") != 1 || !zpl.startsWith("^XA")
        || !zpl.endsWith("^XZ") || zpl.contains('~'))
        __builtin_trap();
    for (const char c : zpl) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80 || (byte < 0x20 && c != '\n'))
            __builtin_trap();
    }
    QString errore;
    if (const auto indirizzo = IndirizzoStampante::leggi(testo, &errore)) {
        if (indirizzo->tipo == IndirizzoStampante::Tipo::Rete
                ? indirizzo->porta == 0 || indirizzo->host.isEmpty()
                : !QDir::isAbsolutePath(indirizzo->percorso))
            __builtin_trap();
    } else if (errore.isEmpty()) {
        __builtin_trap(); // refused without saying why
    }
    return 0;
}
