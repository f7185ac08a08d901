#pragma once

#include "riga_banco.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>

#include <optional>

// A socket of the fixture: one unit under test, on its own line or sharing one with others at
// another address. Its rows are the bench's, read at this socket's port and rate, at the
// addresses this socket's unit answers at.
struct PostoBanco
{
    QString nome; // 1 to 16 characters, unique in the bench
    QString porta; // a panel port number or a device path, as "linea" takes it
    std::optional<qint32> baud; // none: the bench's line's
    std::optional<quint16> strumento; // every row's address replaced by this one
    QMap<quint16, quint16> strumenti; // each row address mapped to this socket's
    QJsonObject altre; // kept as read; refused at opening, so always empty once read

    // The address a row's request goes to at this socket.
    quint16 indirizzo(quint16 strumentoRiga) const
    {
        if (strumento)
            return *strumento;
        return strumenti.value(strumentoRiga, strumentoRiga);
    }
};

// How the station starts the sockets: each on its own scan, or all the filled ones together.
enum class AvvioPosti { Singolo, Insieme };

// A fixture's lid switch: a modem-status line of one socket's port.
struct InterruttoreBanco
{
    QString posto;
    QString segnale; // "CTS", "DSR", "DCD" or "RI"
};

// A bench: the line and the rows read on it, as a .banco file keeps them (JSON in UTF-8).
struct DatiBanco
{
    QString porta = QStringLiteral("1"); // a panel port number or a device path
    qint32 baud = 9600;
    QList<RigaBanco> righe;
    QString modelloUnita; // "modello_unita": the form of this bench's serials, a regular expression
    QJsonObject altre; // keys the program does not know, at the top and in "linea"
    QJsonObject altreLinea;
    // "posti": empty for a bench of one socket on its line, as files without sockets are.
    QList<PostoBanco> posti;
    AvvioPosti avvio = AvvioPosti::Singolo; // "avvio"
    std::optional<InterruttoreBanco> interruttore; // "interruttore"
    // "regole_5_8": the station's control charts warn by rules 5 to 8 as well as 1 to 4.
    bool regole5A8 = false;
};

namespace FileBanco {

// The version the program writes for a bench without sockets, and with them; it reads both.
constexpr int kVersione = 1;
constexpr int kVersioneConPosti = 2;
constexpr qsizetype kMassimoPosti = 32;
constexpr qsizetype kMassimoNomePosto = 16;
constexpr qsizetype kMassimoRighe = 99'999;

// Each refuses what cannot be used with one message naming the file, the row (counting from 1)
// and the field, and what to write instead; file is the name the message gives.
std::optional<DatiBanco> leggi(const QByteArray &dati, const QString &file, QString *errore);
std::optional<DatiBanco> carica(const QString &percorso, QString *errore);
// The keys of "linea" alone, into banco's line, checked as the file checks them.
bool leggiLinea(const QJsonObject &linea, const QString &file, DatiBanco &banco, QString *errore);

QByteArray comeJson(const DatiBanco &banco);
// Written whole or not at all: an old file stays as it was if the new one cannot be written.
bool salva(const QString &percorso, const DatiBanco &banco, QString *errore);

// Rows from a CSV file whose header names the row's keys, with "," or ";" between fields and a
// decimal comma allowed. If any row is refused none is taken, and every refused row is named.
std::optional<QList<RigaBanco>> importaCsv(
    const QByteArray &dati, const QString &file, QString *errore);

// The rows and their limits in canonical form, UTF-8 once encoded: "banco-righe 1" and a line
// feed, then one line per row in the bench's order, each ending in a line feed, its fields
// separated by tabs: strumento (decimal), memoria (four upper-case hexadecimal digits), nome,
// tipo (its name, "senza segno"), decimali, unita, minimo, massimo (the shortest decimal that
// reads back as the same double, without exponent, with a point; empty where absent), atteso
// (as the row shows the word it stands for: "25.0" for "25" with one decimal, "00FF" for "ff").
// In the texts a backslash, a tab, a line feed and a carriage return are written \\, \t, \n, \r.
// The line, the keys the program does not know and the form of the serials are not in it.
QString righeCanoniche(const DatiBanco &banco);
// The SHA-256, in lower-case hexadecimal, of righeCanoniche: the bench's version as statistics
// and charts group runs. A file changed only in its line, sockets, printer, report folder, key
// order or spacing keeps it.
QString shaRighe(const DatiBanco &banco);
// Whether a scanned serial matches modelloUnita as written (the file anchors it with ^ and $);
// always where the bench declares no form, never where the form is not a regular expression.
bool serialeDelBanco(const DatiBanco &banco, const QString &unita);
inline const QString kSerialeEstraneo
    = QStringLiteral("il codice letto non è un numero di serie di questo banco");

// The sockets a round is read on: the file's, each with its rate (the line's where it has
// none), or for a bench without them one socket with an empty name on the bench's line.
QList<PostoBanco> postiEffettivi(const DatiBanco &banco);

// The port text a request of the bench uses: a device path becomes a port number of its own.
QString testoPorta(const QString &porta);

} // namespace FileBanco
