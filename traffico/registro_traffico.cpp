#include "registro_traffico.h"

#include <algorithm>

QString RisultatoRichiesta::testoEsito() const
{
    switch (esito) {
    case Esito::Risposta:
        return QStringLiteral("risposta");
    case Esito::NessunaRisposta:
        return QStringLiteral("nessuna risposta");
    case Esito::Errore:
        return QStringLiteral("errore %1").arg(errore);
    case Esito::Interrotta:
        return QStringLiteral("interrotta");
    }
    return {};
}

RegistroTraffico::RegistroTraffico(qsizetype capacita)
    : m_capacita(std::max<qsizetype>(capacita, 1))
{
    m_orologio.start();
    m_dispositivi.append(QString());
}

namespace {

// The events whose dettaglio is the index of a note or result.
bool conDettaglio(TipoEvento tipo)
{
    return tipo == TipoEvento::Errore || tipo == TipoEvento::PortaPersa
        || tipo == TipoEvento::Risultato;
}

} // namespace

RegistroTraffico::Evento &RegistroTraffico::nuovo()
{
    if (qsizetype(m_eventi.size()) >= m_capacita) {
        const quint32 dettaglio = m_eventi.front().dettaglio;
        const bool conIndice = conDettaglio(m_eventi.front().tipo);
        m_eventi.pop_front();
        ++m_scartati;
        if (conIndice && dettaglio != kSenzaDettaglio) {
            while (!m_dettagli.empty() && m_primoDettaglio <= dettaglio) {
                m_dettagli.pop_front();
                ++m_primoDettaglio;
            }
        }
    }
    return m_eventi.emplace_back();
}

RegistroTraffico::Evento &RegistroTraffico::aggiungi(TipoEvento tipo)
{
    const qint64 adesso = adessoUs();
    Evento &evento = nuovo();
    evento.tempoUs = adesso;
    evento.tempoRichiestaUs
        = m_inCorso ? qint32(std::min<qint64>(adesso - m_inizioUs, INT32_MAX)) : -1;
    evento.richiesta = m_inCorso ? m_richiesta : 0;
    evento.baud = m_baud;
    evento.dettaglio = kSenzaDettaglio;
    evento.dispositivo = m_dispositivo;
    evento.tipo = tipo;
    evento.fase = m_inCorso ? m_fase : kFuoriRichiesta;
    evento.inPausa = m_inPausa;
    evento.byte = 0;
    evento.parita = m_parita;
    evento.erroreLinea = false;
    return evento;
}

void RegistroTraffico::aggiungiDettaglio(TipoEvento tipo, Dettaglio dettaglio)
{
    Evento &evento = aggiungi(tipo);
    evento.dettaglio = quint32(m_primoDettaglio + m_dettagli.size());
    m_dettagli.push_back(std::move(dettaglio));
}

RegistroTraffico::Lotto RegistroTraffico::lottoDa(quint64 da) const
{
    Lotto lotto;
    lotto.primo = std::max(da, primoAssoluto());
    lotto.dispositivi = m_dispositivi;
    if (lotto.primo >= fineAssoluta())
        return lotto;
    const auto inizio = m_eventi.cbegin() + qsizetype(lotto.primo - primoAssoluto());
    lotto.eventi.assign(inizio, m_eventi.cend());
    for (Evento &evento : lotto.eventi) {
        if (!conDettaglio(evento.tipo))
            continue;
        const Dettaglio *d = dettaglio(evento);
        evento.dettaglio = d ? quint32(lotto.dettagli.size()) : kSenzaDettaglio;
        if (d)
            lotto.dettagli.push_back(*d);
    }
    return lotto;
}

void RegistroTraffico::accogli(const Lotto &lotto, const QString &linea)
{
    if (lotto.primo > fineAssoluta())
        m_scartati += lotto.primo - fineAssoluta();
    // The writer's device indexes as this record's, found once a batch.
    std::vector<quint16> dispositivi(size_t(lotto.dispositivi.size()));
    for (qsizetype i = 0; i < lotto.dispositivi.size(); ++i) {
        const QString &nome = linea.isEmpty() ? lotto.dispositivi.at(i) : linea;
        qsizetype indice = m_dispositivi.indexOf(nome);
        if (indice < 0) {
            indice = m_dispositivi.size();
            m_dispositivi.append(nome);
        }
        dispositivi[size_t(i)] = quint16(std::min<qsizetype>(indice, 0xFFFF));
    }
    for (const Evento &origine : lotto.eventi) {
        Evento &evento = nuovo();
        evento = origine;
        evento.dispositivo
            = origine.dispositivo < dispositivi.size() ? dispositivi[origine.dispositivo] : 0;
        if (conDettaglio(origine.tipo) && origine.dettaglio < lotto.dettagli.size()) {
            const Dettaglio &d = lotto.dettagli[origine.dettaglio];
            evento.dettaglio = quint32(m_primoDettaglio + m_dettagli.size());
            m_dettagli.push_back(d);
            if (d.risultato) {
                m_corrente = *d.risultato;
                m_richiesta = m_corrente.numero;
            }
        }
        if (origine.tipo == TipoEvento::Inizio)
            m_inCorso = true;
        else if (origine.tipo == TipoEvento::Risultato)
            m_inCorso = false;
    }
}

void RegistroTraffico::portaAperta(int porta, const QString &dispositivo, qint32 baud, char parita)
{
    qsizetype indice = m_dispositivi.indexOf(dispositivo);
    if (indice < 0) {
        indice = m_dispositivi.size();
        m_dispositivi.append(dispositivo);
    }
    m_dispositivo = quint16(std::min<qsizetype>(indice, 0xFFFF));
    m_baud = baud;
    m_parita = parita;
    if (m_inCorso) {
        // The list's copy, shared by every request kept on this device rather than one each.
        m_corrente.porta = porta;
        m_corrente.dispositivo = m_dispositivi.at(indice);
    }
    aggiungi(TipoEvento::Aperta).dettaglio = quint32(porta);
}

void RegistroTraffico::impostazioniCambiate(qint32 baud, char parita)
{
    m_baud = baud;
    m_parita = parita;
    aggiungi(TipoEvento::Impostazioni);
}

void RegistroTraffico::portaChiusa()
{
    aggiungi(TipoEvento::Chiusa);
}

void RegistroTraffico::drenaggio(std::chrono::microseconds attesa)
{
    aggiungi(TipoEvento::Drenaggio).dettaglio
        = quint32(std::clamp<qint64>(attesa.count(), 0, kSenzaDettaglio - 1));
}

void RegistroTraffico::portaPersa(const QString &descrizione)
{
    aggiungiDettaglio(TipoEvento::PortaPersa, {descrizione, {}});
}

void RegistroTraffico::errore(int numero, const QString &descrizione)
{
    aggiungiDettaglio(
        TipoEvento::Errore, {QStringLiteral("errore %1: %2").arg(numero).arg(descrizione), {}});
}

void RegistroTraffico::trasmesso(quint8 byte)
{
    Evento &evento = aggiungi(TipoEvento::Trasmesso);
    evento.byte = byte;
    if (m_inCorso) {
        m_corrente.inviati.append(char(byte));
        m_ultimoTrasmessoUs = evento.tempoUs;
        m_primoRicevutoDopoUs.reset();
    }
}

void RegistroTraffico::ricevuto(quint8 byte, bool erroreLinea)
{
    Evento &evento = aggiungi(TipoEvento::Ricevuto);
    evento.byte = byte;
    evento.erroreLinea = erroreLinea;
    if (!m_inCorso)
        return;
    QByteArray &ricevuti = m_corrente.ricevuti;
    ricevuti.append(char(byte));
    if (ricevuti.size() > 2 * RisultatoRichiesta::kMassimoRicevuti)
        ricevuti.remove(0, ricevuti.size() - RisultatoRichiesta::kMassimoRicevuti);
    ++m_corrente.numeroRicevuti;
    if (m_ultimoTrasmessoUs && !m_primoRicevutoDopoUs)
        m_primoRicevutoDopoUs = evento.tempoUs;
}

void RegistroTraffico::iniziaRichiesta()
{
    m_corrente = RisultatoRichiesta();
    m_corrente.numero = ++m_richiesta;
    m_corrente.inizio = QDateTime::currentDateTime();
    m_ultimoTrasmessoUs.reset();
    m_primoRicevutoDopoUs.reset();
    m_inizioUs = adessoUs();
    m_inCorso = true;
    m_fase = kFuoriRichiesta;
    m_inPausa = false;
    aggiungi(TipoEvento::Inizio);
}

void RegistroTraffico::fase(int numero)
{
    m_fase = quint8(numero);
    m_inPausa = false;
}

void RegistroTraffico::pausa(int numero)
{
    m_fase = quint8(numero);
    m_inPausa = true;
}

const RisultatoRichiesta &RegistroTraffico::terminaRichiesta(
    const TestiUsati &testi, std::optional<quint16> valore, int errore, bool interrotta)
{
    RisultatoRichiesta &r = m_corrente;
    r.testi = testi;
    r.valore = valore;
    r.errore = errore;
    if (r.ricevuti.size() > RisultatoRichiesta::kMassimoRicevuti)
        r.ricevuti.remove(0, r.ricevuti.size() - RisultatoRichiesta::kMassimoRicevuti);
    if (m_ultimoTrasmessoUs && m_primoRicevutoDopoUs)
        r.latenzaUs = *m_primoRicevutoDopoUs - *m_ultimoTrasmessoUs;
    r.esito = interrotta ? RisultatoRichiesta::Esito::Interrotta
        : errore != 0    ? RisultatoRichiesta::Esito::Errore
        : r.latenzaUs    ? RisultatoRichiesta::Esito::Risposta
                         : RisultatoRichiesta::Esito::NessunaRisposta;
    r.durataUs = adessoUs() - m_inizioUs;
    aggiungiDettaglio(
        TipoEvento::Risultato, {QString(), std::make_shared<const RisultatoRichiesta>(r)});
    m_inCorso = false;
    m_fase = kFuoriRichiesta;
    m_inPausa = false;
    return *m_dettagli.back().risultato;
}

const RegistroTraffico::Dettaglio *RegistroTraffico::dettaglio(const Evento &evento) const
{
    if (!conDettaglio(evento.tipo) || evento.dettaglio == kSenzaDettaglio
        || evento.dettaglio < m_primoDettaglio)
        return nullptr;
    const quint32 posizione = evento.dettaglio - m_primoDettaglio;
    return posizione < m_dettagli.size() ? &m_dettagli[posizione] : nullptr;
}

QString RegistroTraffico::nota(const Evento &evento) const
{
    if (evento.tipo == TipoEvento::Aperta)
        return QStringLiteral("porta %1 aperta").arg(qint32(evento.dettaglio));
    if (evento.tipo == TipoEvento::Drenaggio)
        return QStringLiteral("attesa dell'uscita dei byte: %1 µs").arg(evento.dettaglio);
    const Dettaglio *d = dettaglio(evento);
    return d ? d->nota : QString();
}

const RisultatoRichiesta *RegistroTraffico::risultato(const Evento &evento) const
{
    const Dettaglio *d = dettaglio(evento);
    return d ? d->risultato.get() : nullptr;
}

void RegistroTraffico::perOgniRisultato(
    const std::function<void(const RisultatoRichiesta &)> &fai) const
{
    for (const Dettaglio &d : m_dettagli) {
        if (d.risultato)
            fai(*d.risultato);
    }
}

QString RegistroTraffico::dispositivo(const Evento &evento) const
{
    return m_dispositivi.value(evento.dispositivo);
}

QString RegistroTraffico::linea(const Evento &evento)
{
    if (evento.parita == 0)
        return {};
    return QStringLiteral("%1 8%2%3").arg(evento.baud).arg(QLatin1Char(evento.parita)).arg(1);
}

void RegistroTraffico::svuota()
{
    m_svuotati += m_eventi.size();
    m_primoDettaglio += quint32(m_dettagli.size());
    m_eventi.clear();
    m_dettagli.clear();
    m_eventi.shrink_to_fit();
    m_dettagli.shrink_to_fit();
}
