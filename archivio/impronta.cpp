#include "archivio_sql.h"

#include <QCryptographicHash>

#include <charconv>

// A run's digest: SHA-256 over a canonical form of the run as archived, so that anyone can
// compute it again from the station's file or from the server and see whether the copies agree.
// The form is written down in the README ("La forma canonica di una prova"); a change to it is a
// new version, named in its first line.

namespace {

// Backslash, and every control character, escaped: a text is always one line.
void aggiungiTesto(QByteArray &forma, const QString &testo)
{
    const QByteArray utf8 = testo.toUtf8();
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\')
            forma += "\\\\";
        else if (c == '\n')
            forma += "\\n";
        else if (c == '\r')
            forma += "\\r";
        else if (c == '\t')
            forma += "\\t";
        else if (byte < 0x20 || byte == 0x7f)
            forma += "\\x" + QByteArray::number(byte, 16).rightJustified(2, '0');
        else
            forma += c;
    }
}

void campo(QByteArray &forma, const char *nome, const QString &testo)
{
    forma += nome;
    forma += '=';
    aggiungiTesto(forma, testo);
    forma += '\n';
}

// The shortest decimal that reads back as the same double; nothing where there is no value.
QString numero(const std::optional<double> &valore)
{
    if (!valore)
        return {};
    char testo[64];
    const auto fine = std::to_chars(std::begin(testo), std::end(testo), *valore);
    return QString::fromLatin1(testo, fine.ptr - testo);
}

QString ora(const QDateTime &istante)
{
    return istante.isValid() ? ArchivioSql::testoOra(istante) : QString();
}

} // namespace

QByteArray formaCanonica(const ProvaCompleta &completa)
{
    const ProvaArchiviata &p = completa.prova;
    QByteArray forma = "banco-prova 1\n";
    campo(forma, "uuid", p.uuid.toLower());
    campo(forma, "stazione", p.stazione);
    campo(forma, "operatore", p.operatore);
    campo(forma, "unita", p.unita);
    campo(forma, "tentativo", QString::number(p.tentativo));
    campo(forma, "banco", p.banco);
    campo(forma, "sha_banco", p.shaBanco);
    campo(forma, "sha_righe", p.shaRighe);
    campo(forma, "linea", p.linea);
    campo(forma, "posto", p.posto);
    campo(forma, "inizio", ora(p.inizio));
    campo(forma, "fine", ora(p.fine));
    campo(forma, "esito", p.esito);
    campo(forma, "campione", p.campione);
    campo(forma, "senza_campioni", p.senzaCampioni ? QStringLiteral("1") : QStringLiteral("0"));
    campo(forma, "letture", QString::number(completa.letture.size()));
    for (const LetturaArchiviata &l : completa.letture) {
        campo(forma, "n", QString::number(l.n));
        campo(forma, "nome", l.nome);
        campo(forma, "strumento", QString::number(l.strumento));
        campo(forma, "memoria", l.memoria);
        campo(forma, "unita_misura", l.unitaMisura);
        campo(forma, "parola", l.parola ? QString::number(*l.parola) : QString());
        campo(forma, "valore", numero(l.valore));
        campo(forma, "valore_mostrato", l.valoreMostrato);
        campo(forma, "minimo", numero(l.minimo));
        campo(forma, "massimo", numero(l.massimo));
        campo(forma, "atteso", l.atteso);
        campo(forma, "stato", l.stato);
        campo(forma, "giudizio", QString::number(int(l.giudizio)));
        campo(forma, "latenza_ms", numero(l.latenzaMs));
        campo(forma, "istante", ora(l.istante));
    }
    return forma;
}

QString improntaDellaProva(const ProvaCompleta &prova)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(formaCanonica(prova), QCryptographicHash::Sha256).toHex());
}
