#pragma once

#include "riga_banco.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// A bench: the line and the rows read on it, as a .banco file keeps them (JSON in UTF-8).
struct DatiBanco
{
    QString porta = QStringLiteral("1"); // a panel port number or a device path
    qint32 baud = 9600;
    QList<RigaBanco> righe;
    QString modelloUnita; // "modello_unita": the form of this bench's serials, a regular expression
    QJsonObject altre; // keys the program does not know, at the top and in "linea"
    QJsonObject altreLinea;
};

namespace FileBanco {

constexpr int kVersione = 1;
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

// The SHA-256, in hexadecimal, of the rows and their limits in canonical form: the bench's
// version as statistics and charts group runs. A file changed only in its line, sockets, printer
// or report folder keeps it.
QString shaRighe(const DatiBanco &banco);
// Whether a scanned serial has the form the bench declares (always, where it declares none).
bool serialeDelBanco(const DatiBanco &banco, const QString &unita);
inline const QString kSerialeEstraneo
    = QStringLiteral("il codice letto non è un numero di serie di questo banco");

// The port text a request of the bench uses: a device path becomes a port number of its own.
QString testoPorta(const QString &porta);

} // namespace FileBanco
