#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>

// One parameter of one instrument on the bench's line: where its word is read, how the word is
// shown and what it is judged against.
struct RigaBanco
{
    enum class Tipo : quint8 { SenzaSegno, ConSegno, Esadecimale, Binario };
    enum class Giudizio : quint8 { EntroILimiti, FuoriDaiLimiti };

    QString nome; // empty: the address stands for it
    quint16 strumento = 0;
    quint16 memoria = 0;
    Tipo tipo = Tipo::SenzaSegno;
    quint8 decimali = 0; // numeric types only
    QString unita;
    std::optional<double> minimo; // in the shown unit
    std::optional<double> massimo;
    QString atteso; // the exact value as shown; empty: none
    QJsonObject altre; // keys the program does not know, written back as they were read

    bool numerica() const { return tipo == Tipo::SenzaSegno || tipo == Tipo::ConSegno; }
    QString nomeMostrato() const;
    // "0008"
    QString testoMemoria() const;
    // The word as the row shows it, without the unit: "25.3", "-12", "270F", "0010011100001111".
    QString valore(quint16 parola) const;
    // The value with its unit, as the table and the reports show it.
    QString valoreConUnita(quint16 parola) const;
    // The value as a number, for a chart or a JSON reader: 25.3 for a word of 253 with one
    // decimal; a code (hexadecimal, binary) is its word.
    double comeNumero(quint16 parola) const;
    Giudizio giudica(quint16 parola) const;
    // Whether there is anything to judge a word against: a limit or atteso.
    bool conLimiti() const { return minimo || massimo || !atteso.isEmpty(); }
    // atteso as the row shows the word it stands for: "25.0" for "25" with one decimal, "00FF"
    // for "ff"; atteso itself where it stands for no word.
    QString attesoMostrato() const;
    // "20 … 120", "≥ 20", "≤ 120", "= 270F", or empty.
    QString limiti() const;
    // A limit as a window shows it: with the row's decimals at least, in the machine form
    // ("20.0" for a row of one decimal); NumeriItaliani gives it a comma.
    QString testoLimite(double limite) const;
};

// A word as four hexadecimal digits, "03E8".
QString parolaEsadecimale(quint16 parola);

// The fields of a row as the bench file writes them, each set with the checks of the file.
namespace CampiRiga {

// Where a value is being written, so that a refusal says what to write there: in the bench
// file's JSON (where quotes make a string and a point is the decimal separator), in a cell of
// the table, or in a field of a CSV file (where a decimal comma is taken too).
enum class Dove { File, Cella, Csv };

// The keys of a row, in the order the file and the CSV export write them.
const QStringList &chiavi();
// "senza segno", "con segno", "esadecimale", "binario", in the order of RigaBanco::Tipo.
const QStringList &nomiTipi();

// Sets one field from its value in the file; the reason, with what to write instead, if the value
// cannot be used. A null value takes the field back to its default. Unknown keys go to altre.
std::optional<QString> imposta(
    RigaBanco &riga, const QString &chiave, const QJsonValue &valore, Dove dove = Dove::File);
// A field typed as text, in a cell or a CSV field, as the file would hold it: a number for the
// numeric keys and a decimal point in atteso, a decimal comma taken for either; null for an
// empty text, which takes the field back to its default.
QJsonValue daTesto(const QString &chiave, const QString &testo);
// The field as the file writes it; undefined where the row keeps the default.
QJsonValue valore(const RigaBanco &riga, const QString &chiave);
// What holds across fields (limits on a numeric type, minimo not above massimo, atteso within
// the type): the key at fault and the reason.
std::optional<std::pair<QString, QString>> verifica(const RigaBanco &riga, Dove dove = Dove::File);

// The whole row, and back; chiave at fault and reason when the object cannot be used.
QJsonObject comeJson(const RigaBanco &riga);
std::optional<std::pair<QString, QString>> daJson(
    const QJsonObject &oggetto, RigaBanco &riga, Dove dove = Dove::File);

} // namespace CampiRiga
