#include "interrogazione.h"

#include "carta_controllo.h"
#include "testi_ammessi.h"
#include "testi_traffico.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace RigaDiComando {

QString numero(const std::optional<double> &valore, int cifre)
{
    return valore ? QString::number(*valore, 'g', cifre) : QString();
}

QJsonValue numeroJson(const std::optional<double> &valore)
{
    return valore ? QJsonValue(*valore) : QJsonValue();
}

QString oTrattino(const QString &testo)
{
    return testo.isEmpty() ? QStringLiteral("-") : testo;
}

QString csv(QStringList campi)
{
    for (QString &campo : campi)
        campo = TestiAmmessi::mostrabile(campo);
    return QString::fromUtf8(TestiTraffico::lineaCsv(campi).chopped(2));
}

QString json(const QJsonObject &oggetto)
{
    return QString::fromUtf8(QJsonDocument(oggetto).toJson(QJsonDocument::Compact));
}

QString ora(const QDateTime &t)
{
    if (!t.isValid())
        return {};
    const QDateTime locale = t.toLocalTime();
    return locale.toOffsetFromUtc(locale.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

QString percentuale(qint64 parte, qint64 tutto)
{
    return tutto > 0 ? QString::number(100.0 * double(parte) / double(tutto), 'f', 1) : QString();
}

QString conteggio(qint64 n, const char *uno, const char *tanti)
{
    return QString::number(n) + u' ' + QString::fromUtf8(n == 1 ? uno : tanti);
}

QString bancoEVersione(const QString &banco, const QString &versione)
{
    const QString nome = QStringLiteral("banco ") + TestiAmmessi::mostrabile(banco);
    return versione.isEmpty() ? nome
                              : nome + QStringLiteral(" (versione %1)").arg(versione.left(12));
}

QString giudizioCapacita(const std::optional<double> &cpk, qint64 fuoriControllo)
{
    if (!cpk)
        return {};
    if (fuoriControllo > 0)
        return QStringLiteral("processo non sotto controllo: la capacità non è affidabile");
    return CartaControllo::giudizio(*cpk);
}

QString numeriRegole(const QList<int> &regole, const QString &separatore)
{
    QStringList numeri;
    for (const int r : regole)
        numeri << QString::number(r);
    return numeri.join(separatore);
}

QJsonValue regoleJson(const QList<int> &regole)
{
    QJsonArray a;
    for (const int r : regole)
        a.append(r);
    return a;
}

} // namespace RigaDiComando
