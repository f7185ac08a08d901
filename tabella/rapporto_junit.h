#pragma once

#include "registro_traffico.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <utility>

class ModelloTabella;
class QXmlStreamWriter;

// The readings of a bench as a JUnit XML report, which CI servers and test-rig software read: one
// testsuite per round, one testcase per row, a failure for a value out of its limits or for no
// answer, an error for a request stopped by an error.
class RapportoJUnit
{
public:
    // proprieta: the line settings and the unit under test, carried in every round.
    RapportoJUnit(const ModelloTabella &modello, QList<std::pair<QString, QString>> proprieta);

    // descrizione: the error's text, for a request stopped by one.
    void aggiungi(qint64 giro, int riga, const RisultatoRichiesta &risultato,
        const QString &descrizione = {});
    // Properties of one round only: the archive's run that recorded it.
    void aggiungiProprieta(qint64 giro, const QList<std::pair<QString, QString>> &proprieta);
    bool vuoto() const { return m_esami.isEmpty(); }
    // Values out of limits, answers missing or failed, and errors, over every round.
    int fuoriDaiLimiti() const { return m_fuori; }

    // A fixture's socket: its name heads each of its rounds' suites, and is one of their
    // properties.
    void setPosto(const QString &posto)
    {
        m_posto = posto;
        m_proprieta.append({QStringLiteral("posto"), posto});
    }

    // interrotto: the run was stopped before its end, and the report says so.
    QByteArray comeXml(bool interrotto) const;
    // The reports of several sockets in one document, each with whether it was stopped.
    static QByteArray comeXml(const QList<std::pair<const RapportoJUnit *, bool>> &rapporti);
    bool scrivi(const QString &percorso, bool interrotto, QString *errore) const;
    static bool scrivi(const QString &percorso, const QByteArray &xml, QString *errore);

private:
    void scriviGiri(QXmlStreamWriter &w, bool interrotto, const QString &adesso) const;

    struct Esame
    {
        qint64 giro;
        int riga;
        RisultatoRichiesta::Esito esito;
        quint16 errore;
        quint16 parola;
        qint64 durataUs;
        QString descrizione;
    };

    const ModelloTabella &m_modello;
    QString m_posto;
    QList<std::pair<QString, QString>> m_proprieta;
    QHash<qint64, QList<std::pair<QString, QString>>> m_proprietaDelGiro;
    QList<Esame> m_esami;
    int m_fuori = 0;
};
