#include "lettura_tabella.h"

#include "registro_traffico.h"

LetturaTabella::LetturaTabella(ModelloTabella &modello, Sequenziatore &sequenziatore,
    RegistroTraffico &registro, QObject *parent, const QString &nome)
    : QObject(parent)
    , m_modello(modello)
    , m_motore(sequenziatore, registro, nome)
{
    connect(&m_motore, &SequenzaRichieste::risultato, this,
        [this](qint64 n, const RisultatoRichiesta &risultato) {
            if (risultato.esito != RisultatoRichiesta::Esito::Interrotta) {
                ++m_durate;
                m_durataMediaS += (risultato.durataUs / 1e6 - m_durataMediaS) / double(m_durate);
            }
            m_modello.registra(m_riga, risultato, m_motore.descrizioneErrore());
            emit letta(n / m_righe, m_riga, risultato);
        });
    connect(&m_motore, &SequenzaRichieste::terminata, this, [this](int errore, const QString &d) {
        m_riga = -1;
        emit terminata(errore, d);
    });
}

bool LetturaTabella::avvia(int giri, int pausaMs, bool fermatiAlPrimoErrore)
{
    if (m_modello.rowCount() == 0 || m_motore.inCorso())
        return false;
    m_righe = m_modello.rowCount();
    m_porta = FileBanco::testoPorta(m_modello.banco().porta);
    m_baud = QString::number(m_modello.banco().baud);
    m_strumenti.clear();
    m_memorie.clear();
    m_giro = 0;
    m_durate = 0;
    m_durataMediaS = 0;
    SequenzaRichieste::Impostazioni impostazioni;
    impostazioni.pausaMs = pausaMs;
    impostazioni.quante = qint64(giri) * m_righe;
    impostazioni.fermatiAlPrimoErrore = fermatiAlPrimoErrore;
    impostazioni.richiestePerGiro = m_righe;
    impostazioni.testi = [this](qint64 n) { return testi(n); };
    return m_motore.avvia(impostazioni);
}

// The row's request: the bench's line, the row's instrument and address, a reading.
Pannello *LetturaTabella::testi(qint64 n)
{
    m_giro = n / m_righe;
    m_riga = int(n % m_righe);
    const RigaBanco &riga = m_modello.riga(m_riga);
    // Each request's texts stay in the traffic record: one shared text per instrument and per
    // address, not a new one per request.
    QString &strumento = m_strumenti[riga.strumento];
    if (strumento.isNull())
        strumento = QString::number(riga.strumento);
    QString &memoria = m_memorie[riga.memoria];
    if (memoria.isNull())
        memoria = riga.testoMemoria();
    m_testi = PannelloDiTesti({{Campo::Combo1, m_porta}, {Campo::Combo2, m_baud},
        {Campo::Combo5, strumento}, {Campo::ComboComando, QStringLiteral("Lettura")},
        {Campo::ComboIndirizzo, memoria}, {Campo::Text1, QString()}, {Campo::Text3, QString()}});
    return &m_testi;
}

std::optional<double> LetturaTabella::secondiAllaFineDelGiro() const
{
    if (m_durate == 0 || m_riga < 0)
        return std::nullopt;
    return m_durataMediaS * (m_righe - m_riga);
}
