#include "collaudo_posti.h"

#include "giro_posti.h"
#include "numeri_italiani.h"

CollaudoPosti::CollaudoPosti(Collaudo &collaudo, QObject *parent)
    : QObject(parent)
    , m_collaudo(collaudo)
    , m_giro(std::make_unique<GiroPosti>(
          collaudo.modello().banco(), QStringLiteral("la stazione di collaudo")))
{
    for (int n = 0; n < m_giro->numeroPosti(); ++n) {
        Posto p;
        p.modello = std::make_unique<ModelloTabella>();
        p.modello->imposta(collaudo.modello().banco());
        m_posti.push_back(std::move(p));
    }
    connect(m_giro.get(), &GiroPosti::letta, this, &CollaudoPosti::letta);
    connect(m_giro.get(), &GiroPosti::terminato, this, &CollaudoPosti::terminato);
    m_collaudo.impostaAltreProve([this] { return qualcunoInCorso(); });
    leggiServizi();
    connect(&m_collaudo, &Collaudo::archivioCambiato, this, [this] {
        leggiServizi();
        for (int n = 0; n < numeroPosti(); ++n)
            emit servizioCambiato(n);
    });

    // The lid starts the batch only where the sockets wait for one.
    connect(m_giro.get(), &GiroPosti::coperchioChiuso, this, [this] {
        m_interruttoreIlleggibile.clear();
        emit coperchioChiuso();
    });
    connect(m_giro.get(), &GiroPosti::interruttoreIlleggibile, this, [this](const QString &motivo) {
        m_interruttoreIlleggibile = motivo;
        emit interruttoreNonLeggibile(motivo);
    });
    const DatiBanco &banco = collaudo.modello().banco();
    if (banco.interruttore && banco.avvio == AvvioPosti::Insieme) {
        QString motivo;
        if (!m_giro->sorvegliaInterruttore(&motivo))
            m_interruttoreIlleggibile = motivo;
    }
}

void CollaudoPosti::leggiServizi()
{
    QSet<QString> fuori;
    std::optional<QList<ServizioPosto>> cambi;
    if (Archivio *archivio = m_collaudo.archivio()) {
        fuori = archivio->postiFuoriServizio(m_collaudo.stazione(), m_collaudo.nomeBanco());
        if (!fuori.isEmpty())
            cambi = archivio->servizi(m_collaudo.stazione(), m_collaudo.nomeBanco());
    }
    for (int n = 0; n < numeroPosti(); ++n) {
        ServizioPosto &s = m_posti[n].servizio;
        s = ServizioPosto();
        s.posto = nome(n);
        s.inServizio = !fuori.contains(s.posto);
        if (s.inServizio || !cambi)
            continue;
        // The last change of the socket tells who took it out, when and why.
        for (const ServizioPosto &c : std::as_const(*cambi)) {
            if (c.posto == s.posto)
                s = c;
        }
        s.inServizio = false;
    }
}

bool CollaudoPosti::impostaServizio(
    int posto, bool inServizio, const QString &motivo, QString *errore)
{
    Posto &p = m_posti.at(posto);
    if (inCorso(posto)) {
        *errore = QStringLiteral("Il posto %1 ha in prova l'unità %2: attenderne la fine, o "
                                 "fermarla con il suo pulsante Ferma, prima di metterlo fuori "
                                 "servizio.")
                      .arg(nome(posto), p.unita);
        return false;
    }
    if (m_collaudo.operatore().isEmpty()) {
        *errore = QStringLiteral("Manca il nome dell'operatore: Alt+O per darlo, poi riprovare.");
        return false;
    }
    Archivio *archivio = m_collaudo.archivio();
    if (!archivio) {
        *errore = QStringLiteral("Nessun banco aperto per il collaudo.");
        return false;
    }
    ServizioPosto cambio;
    cambio.stazione = m_collaudo.stazione();
    cambio.banco = m_collaudo.nomeBanco();
    cambio.posto = nome(posto);
    cambio.inServizio = inServizio;
    cambio.operatore = m_collaudo.operatore();
    cambio.quando = QDateTime::currentDateTime();
    cambio.motivo = inServizio ? QString() : motivo.simplified();
    if (!archivio->registraServizio(cambio)) {
        *errore = QStringLiteral("Il cambio del posto %1 non è stato registrato: %2. Il posto "
                                 "resta com'era.")
                      .arg(nome(posto), archivio->errore());
        return false;
    }
    p.servizio = cambio;
    if (!inServizio) {
        p.riempito = false;
        p.unita.clear();
    }
    emit servizioCambiato(posto);
    return true;
}

QString CollaudoPosti::avvisoContatti(const Resa &posto, const Resa &altri)
{
    if (posto.unita < kUnitaPerConfrontare || altri.unita < kUnitaPerConfrontare)
        return {};
    // More than 10 points below, in whole numbers: altri.alPrimo / altri.unita - posto.alPrimo /
    // posto.unita > 10 / 100.
    const qint64 differenza = altri.alPrimo * posto.unita - posto.alPrimo * altri.unita;
    if (100 * differenza <= 10 * posto.unita * altri.unita)
        return {};
    const double punti = 100.0 * double(differenza) / double(posto.unita * altri.unita);
    return QStringLiteral("resa al primo passaggio %1 punti sotto gli altri posti: controllare i "
                          "contatti dell'alloggiamento")
        .arg(NumeriItaliani::decimale(punti, 1));
}

// The rounds end with the window: each stopped run is recorded before the engine goes.
CollaudoPosti::~CollaudoPosti()
{
    m_collaudo.impostaAltreProve({});
    disconnect(m_giro.get(), nullptr, this, nullptr);
    for (int n = 0; n < numeroPosti(); ++n) {
        if (m_posti[n].registrazione && m_posti[n].registrazione->inCorso())
            m_posti[n].registrazione->finisci(true);
    }
    m_giro.reset();
}

QString CollaudoPosti::nome(int posto) const
{
    return m_giro->posti().at(posto).nome;
}

AvvioPosti CollaudoPosti::avvio() const
{
    return m_collaudo.modello().banco().avvio;
}

bool CollaudoPosti::inCorso(int posto) const
{
    return m_giro->inCorso(posto);
}

bool CollaudoPosti::qualcunoInCorso() const
{
    return m_giro->qualcunoInCorso();
}

bool CollaudoPosti::leggi(int posto, const QString &letta, QString *motivo)
{
    const QString unita = letta.trimmed();
    Posto &p = m_posti.at(posto);
    if (inCorso(posto)) {
        *motivo = QStringLiteral("Il posto %1 ha in prova l'unità %2: attenderne la fine, o "
                                 "fermarla con il suo pulsante Ferma, prima di leggere la prossima.")
                      .arg(nome(posto), p.unita);
        return false;
    }
    if (fuoriServizio(posto)) {
        *motivo = QStringLiteral("Il posto %1 è fuori servizio: leggere l'unità in un altro posto, "
                                 "o rimetterlo in servizio con il suo pulsante.")
                      .arg(nome(posto));
        return false;
    }
    *motivo = m_collaudo.controllaSeriale(unita);
    if (motivo->isEmpty())
        *motivo = m_collaudo.controllaCampioni(unita, nome(posto));
    if (!motivo->isEmpty())
        return false;
    for (int altro = 0; altro < numeroPosti(); ++altro) {
        const Posto &a = m_posti[altro];
        if (altro == posto || a.unita != unita || !(a.riempito || inCorso(altro)))
            continue;
        *motivo = QStringLiteral("L'unità %1 è già nel posto %2%3: un'unità sta in un posto solo. "
                                 "Leggere l'etichetta dell'unità inserita in questo posto.")
                      .arg(unita, nome(altro),
                          inCorso(altro) ? QStringLiteral(", in prova") : QString());
        return false;
    }
    p.unita = unita;
    p.riempito = true;
    if (avvio() == AvvioPosti::Insieme) {
        emit pronto(posto, unita);
        return true;
    }
    if (avvia(posto, motivo))
        return true;
    p.riempito = false;
    return false;
}

QList<int> CollaudoPosti::avviaRiempiti(QList<std::pair<int, QString>> *motivi)
{
    QList<int> avviati;
    for (int n = 0; n < numeroPosti(); ++n) {
        if (!m_posti[n].riempito || inCorso(n) || fuoriServizio(n))
            continue;
        QString motivo;
        if (avvia(n, &motivo))
            avviati << n;
        else if (motivi)
            motivi->append({n, motivo});
    }
    return avviati;
}

bool CollaudoPosti::avvia(int posto, QString *motivo)
{
    Posto &p = m_posti.at(posto);
    const QString avviso = m_collaudo.avvisoPrecedenti(p.unita);
    m_collaudo.preparaModello(*p.modello, p.unita);
    p.lette = 0;
    p.registrazione
        = m_collaudo.registrazione(*p.modello, p.unita, &m_giro->posti().at(posto));
    if (!p.registrazione) {
        *motivo = QStringLiteral("Nessun banco aperto per il collaudo.");
        return false;
    }
    if (!m_giro->avvia(posto, motivo)) {
        p.registrazione.reset();
        return false;
    }
    p.riempito = false;
    p.registrazione->inizia(QDateTime::currentDateTime());
    p.tentativo = p.registrazione->inCorso() ? p.registrazione->prova().tentativo : 0;
    emit avviato(posto, p.unita, avviso);
    return true;
}

void CollaudoPosti::ferma(int posto)
{
    m_giro->ferma(posto);
}

void CollaudoPosti::fermaTutti()
{
    m_giro->fermaTutti();
}

void CollaudoPosti::letta(
    int posto, int riga, const RisultatoRichiesta &risultato, const QString &descrizioneErrore)
{
    if (risultato.esito == RisultatoRichiesta::Esito::Interrotta)
        return;
    Posto &p = m_posti.at(posto);
    p.modello->registra(riga, risultato, descrizioneErrore);
    ++p.lette;
    if (p.registrazione)
        p.registrazione->lettura(riga, risultato);
    emit rigaLetta(posto, riga);
}

void CollaudoPosti::terminato(int posto, bool fermato)
{
    Posto &p = m_posti.at(posto);
    if (!p.registrazione)
        return;
    const bool incompleta = !fermato && p.lette < p.modello->rowCount();
    const QString esito = p.registrazione->finisci(fermato, incompleta);
    Collaudo::Esito fine
        = Collaudo::giudica(*p.modello, m_collaudo.rigaVerifica(), p.unita, esito, p.lette, {});
    fine.tentativo = p.tentativo;
    fine.erroreArchivio = p.registrazione->errore();
    if (fine.erroreArchivio.isEmpty())
        fine.prova = p.registrazione->ultima().uuid;
    fine.campione = m_collaudo.campioni().campione(p.unita).value_or(Campione{}).esito;
    p.registrazione.reset();
    emit finito(posto, fine);
    m_collaudo.provaFinita(fine.prova);
}
