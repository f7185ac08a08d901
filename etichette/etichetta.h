#pragma once

#include "stampante.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

class QJsonValue;

// A bench's label: the ZPL template, as read when the bench was opened, and the printer it goes
// to. In the bench file:
//     "etichetta": {"modello": "etichetta.zpl", "stampante": "192.168.1.50:9100"}
struct ConfigurazioneEtichetta
{
    QString fileModello; // the template's absolute path
    QString modello; // its text
    IndirizzoStampante stampante;

    // The value of the bench's "etichetta" key. A bench without the key (an undefined value,
    // or null) gives nothing and leaves errore empty; otherwise nothing comes with the reason, in
    // words that say what to write. The template is read and checked here, so that a bench with a
    // wrong one is refused when opened rather than at its first good unit.
    static std::optional<ConfigurazioneEtichetta> leggi(
        const QJsonValue &valore, const QString &cartellaBanco, QString *errore);
};

namespace Etichette {

// The fields a template may use, as {unita}, in the order the messages list them.
const QStringList &campi();

// Whether a template can be filled: one or more labels ^XA … ^XZ with nothing but blanks after
// the last, only known fields, each inside a field's data (^FD, ^FV) or a comment (^FX), and no
// character set other than UTF-8 (^CI28). nome is the template as the messages name it.
bool modelloValido(const QString &modello, const QString &nome, QString *errore);

// A value as field data under ^FH with the given indicator: the bytes of its UTF-8 that the
// printer would read as a command, a control or in another character set, and the indicator
// itself, written as the indicator and two upper-case hex digits. The result holds no ^ or ~,
// so no serial number can end a label or start a command.
QByteArray proteggi(const QString &valore, char indicatore = '_');

// The label of a template checked by modelloValido: each field replaced by its value (a field
// without one is left empty), each ^FD or ^FV carrying a field given ^FH where the template has
// none, and UTF-8 declared with ^CI28 after each ^XA of a label that does not declare it. The
// template's own text goes as it is, and the result ends with its last ^XZ.
QByteArray compila(const QString &modello, const QHash<QString, QString> &valori);

// The values of one run's label. The date and time are quando's, in local time, as
// "dd/MM/yyyy" and "HH:mm"; posto is empty for a bench without sockets.
QHash<QString, QString> valoriEtichetta(const QString &unita, const QString &esito,
    const QDateTime &quando, const QString &banco, const QString &stazione,
    const QString &operatore, const QString &posto, int tentativo, const QString &prova);

} // namespace Etichette
