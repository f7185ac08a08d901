#include "collaudo.h"

#include "inoltro.h"
#include "numeri_italiani.h"
#include "registro_traffico.h"
#include "testi_ammessi.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {

QString conUnita(const QString &numero, const RigaBanco &riga)
{
    const QString mostrato = riga.numerica() ? NumeriItaliani::daMacchina(numero) : numero;
    return riga.unita.isEmpty() ? mostrato : mostrato + u' ' + riga.unita;
}

QString maiuscola(const QString &testo)
{
    return testo.left(1).toUpper() + testo.mid(1);
}

QString limitiMostrati(const RigaBanco &riga)
{
    const auto limite
        = [&riga](double x) { return NumeriItaliani::daMacchina(riga.testoLimite(x)); };
    QStringList parti;
    if (riga.minimo && riga.massimo)
        parti << QStringLiteral("%1 … %2").arg(limite(*riga.minimo), limite(*riga.massimo));
    else if (riga.minimo)
        parti << QStringLiteral("≥ %1").arg(limite(*riga.minimo));
    else if (riga.massimo)
        parti << QStringLiteral("≤ %1").arg(limite(*riga.massimo));
    if (!riga.atteso.isEmpty())
        parti << QStringLiteral("= %1").arg(riga.atteso);
    return parti.join(QStringLiteral(", "));
}

// A row's state as the operator is told it: an error with what the line said and what to do.
QString stato(const ModelloTabella &modello, int n)
{
    const QString &descrizione = modello.lettura(n).descrizione;
    return modello.stato(n) == ModelloTabella::StatoRiga::Errore && !descrizione.isEmpty()
        ? descrizione
        : modello.testoStato(n);
}

Collaudo::Scarto scarto(
    const ModelloTabella &modello, int n, int rigaVerifica, const QString &unita)
{
    using Stato = ModelloTabella::StatoRiga;
    const RigaBanco &riga = modello.riga(n);
    const ModelloTabella::Lettura &l = modello.lettura(n);
    Collaudo::Scarto s{riga.nomeMostrato(), QString(), limitiMostrati(riga), QString()};
    if (modello.stato(n) != Stato::FuoriDaiLimiti) {
        s.perQuanto = stato(modello, n);
        return s;
    }
    s.valore = conUnita(riga.valore(l.parola), riga);
    if (n == rigaVerifica) {
        // A serial number is shown as the label has it, without a thousands separator.
        s.valore = riga.valore(l.parola);
        s.perQuanto = QStringLiteral("il numero di serie letto dallo strumento (%1) non è quello "
                                     "dell'etichetta (%2)")
                          .arg(riga.valore(l.parola), unita);
        return s;
    }
    const double v = riga.comeNumero(l.parola);
    const auto distanza = [&riga](double d) { return conUnita(riga.testoLimite(d), riga); };
    if (riga.numerica() && riga.minimo && v < *riga.minimo)
        s.perQuanto = QStringLiteral("%1 sotto il minimo").arg(distanza(*riga.minimo - v));
    else if (riga.numerica() && riga.massimo && v > *riga.massimo)
        s.perQuanto = QStringLiteral("%1 sopra il massimo").arg(distanza(v - *riga.massimo));
    else
        s.perQuanto = QStringLiteral("diverso dal valore atteso %1").arg(riga.atteso);
    return s;
}

} // namespace

Collaudo::Collaudo(Sequenziatore &sequenziatore, RegistroTraffico &registro, QObject *parent)
    : QObject(parent)
    , m_lettura(std::make_unique<LetturaTabella>(
          m_modello, sequenziatore, registro, nullptr, QStringLiteral("il collaudo")))
{
    connect(m_lettura.get(), &LetturaTabella::letta, this,
        [this](qint64, int n, const RisultatoRichiesta &r) { letta(n, r); });
    connect(m_lettura.get(), &LetturaTabella::terminata, this, &Collaudo::terminata);
}

// The round stops with the station: a request in flight ends at its pause.
Collaudo::~Collaudo()
{
    m_lettura->ferma();
}

bool Collaudo::apri(const QString &percorsoBanco, const QString &stazione, const QString &operatore,
    QString *errore)
{
    QFile file(percorsoBanco);
    if (!file.open(QIODevice::ReadOnly)) {
        *errore = QStringLiteral("Il banco %1 non si apre: %2.")
                      .arg(QDir::toNativeSeparators(percorsoBanco), file.errorString());
        return false;
    }
    const QByteArray dati = file.readAll();
    const QString nome = QFileInfo(percorsoBanco).fileName();
    std::optional<DatiBanco> banco = FileBanco::leggi(dati, nome, errore);
    return banco && apriBanco(std::move(*banco), percorsoBanco, dati, stazione, operatore, errore);
}

bool Collaudo::apriBanco(DatiBanco banco, const QString &percorso, const QByteArray &dati,
    const QString &stazione, const QString &operatore, QString *errore)
{
    const QString nome = QFileInfo(percorso).fileName();
    const std::optional<ConfigurazioneTracciabilita> configurazione
        = ConfigurazioneTracciabilita::leggi(banco, percorso, errore);
    if (!configurazione)
        return false;
    const QString chiStazione = nomeStazione(stazione);
    for (const auto &[testo, che] : {std::pair{chiStazione, QStringLiteral("Il nome della stazione")},
             std::pair{operatore, QStringLiteral("Il nome dell'operatore")}}) {
        *errore = TestiAmmessi::controlla(testo, che);
        if (!errore->isEmpty())
            return false;
    }
    if (banco.righe.isEmpty()) {
        *errore = QStringLiteral("Il banco %1 non ha righe: non c'è nulla da provare.").arg(nome);
        return false;
    }
    m_rigaVerifica = -1;
    const QJsonValue verifica = banco.altre.value(QLatin1String(kChiaveVerifica));
    if (!verifica.isUndefined() && !verifica.isNull()) {
        const QString riga = verifica.toString();
        for (qsizetype i = 0; i < banco.righe.size() && !riga.isEmpty(); ++i) {
            if (banco.righe[i].nomeMostrato() == riga)
                m_rigaVerifica = int(i);
        }
        if (m_rigaVerifica < 0) {
            *errore = QStringLiteral("Il banco %1: «%2» deve nominare la riga che legge il numero "
                                     "di serie dallo strumento, ma nessuna riga si chiama %3.")
                          .arg(nome, QLatin1String(kChiaveVerifica),
                              verifica.isString() ? QStringLiteral("«%1»").arg(riga)
                                                  : QStringLiteral("così"));
            return false;
        }
    }
    const std::optional<Destinazione::Scelta> dove = Destinazione::scegli(QString(), errore);
    if (!dove)
        return false;
    m_archivio = Archivio::apriLocale(dove->file, errore);
    if (!m_archivio)
        return false;
    m_fileArchivio = dove->file;
    m_chi = {chiStazione, operatore, QString(), nome,
        QString::fromLatin1(QCryptographicHash::hash(dati, QCryptographicHash::Sha256).toHex()),
        QStringLiteral("%1, %2").arg(banco.porta, QString::number(banco.baud)),
        FileBanco::shaRighe(banco), QString(), QString(), false};
    m_modello.imposta(std::move(banco));
    m_configurazione = *configurazione;
    m_tracciabilita = std::make_unique<Tracciabilita>(
        m_configurazione, [this] { return m_archivio.get(); });
    connect(m_tracciabilita.get(), &Tracciabilita::rapporto, this, &Collaudo::rapporto);
    connect(m_tracciabilita.get(), &Tracciabilita::etichetta, this, &Collaudo::etichetta);
    seminaSorveglianza();
    collegaServer(dove->server);
    return true;
}

void Collaudo::seminaSorveglianza()
{
    const DatiBanco &banco = m_modello.banco();
    m_sorveglianza.azzera(banco.regole5A8);
    m_erroreSorveglianza.clear();
    if (!m_archivio)
        return;
    QSet<QString> posti;
    for (const PostoBanco &posto : banco.posti)
        posti.insert(posto.nome);
    if (posti.isEmpty())
        posti.insert(QString());
    // This version's series at every socket in one pass: runs of other stations count, as on
    // the history's chart of the same file.
    FiltroProve filtro;
    filtro.shaBanco = m_chi.shaRighe;
    const std::optional<QList<SerieCarta>> serie = m_archivio->serieCarta(filtro);
    if (!serie) {
        m_erroreSorveglianza = m_archivio->errore();
        return;
    }
    for (const SerieCarta &s : *serie) {
        if (!posti.contains(s.posto) || s.n < 0 || s.n >= m_modello.rowCount())
            continue;
        m_sorveglianza.semina(s.posto, s.n, s.valori, limitiFissati(s));
    }
}

QList<Collaudo::Deriva> Collaudo::sorveglia(const ModelloTabella &modello, const QString &posto,
    const QString &unita, const QString &esito)
{
    QList<Deriva> derive;
    // A reference unit proves the bench: its values are no product's, and go on no chart.
    if (esito.isEmpty() || Esiti::daRipetere(esito) || campioni().campione(unita))
        return derive;
    for (int n = 0; n < modello.rowCount(); ++n) {
        const RigaBanco &riga = modello.riga(n);
        const ModelloTabella::Lettura &l = modello.lettura(n);
        // The serial read back from the instrument is no measure.
        if (n == m_rigaVerifica || !riga.numerica()
            || l.esito != ModelloTabella::Lettura::Esito::Letta)
            continue;
        const QList<int> regole = m_sorveglianza.aggiungi(posto, n, riga.comeNumero(l.parola));
        if (regole.isEmpty())
            continue;
        Deriva d;
        d.posto = posto;
        d.n = n;
        d.riga = riga.nomeMostrato();
        d.regole = regole;
        for (const int regola : regole)
            d.testiRegole << CartaControllo::testoRegola(regola);
        for (const double v : m_sorveglianza.ultimi(posto, n, kValoriMostrati))
            d.ultimi << NumeriItaliani::daMacchina(riga.testoLimite(v));
        d.unitaMisura = riga.unita;
        d.unita = unita;
        derive << d;
    }
    const QDate oggi = QDate::currentDate();
    if (m_giornoDerive != oggi) {
        m_derive.clear();
        m_giornoDerive = oggi;
    }
    if (!derive.isEmpty())
        m_derive[posto] += derive.size();
    return derive;
}

bool Collaudo::impostaOperatore(const QString &operatore, QString *errore)
{
    *errore = TestiAmmessi::controlla(operatore, QStringLiteral("Il nome dell'operatore"));
    if (!errore->isEmpty())
        return false;
    m_chi.operatore = operatore;
    return true;
}

// The forwarding to the server, made anew: the old one's send in flight ends by itself, and
// what it did not send waits in the file for the new one.
void Collaudo::collegaServer(const std::optional<Destinazione::Server> &server)
{
    m_inoltro.reset();
    m_statoInoltro.reset();
    m_server = server;
    if (!server)
        return;
    m_inoltro = std::make_unique<Inoltro>(m_fileArchivio, *server);
    connect(m_inoltro.get(), &Inoltro::statoCambiato, this, [this](const StatoInoltro &stato) {
        m_statoInoltro = stato;
        emit inviate();
    });
    m_inoltro->avvia();
}

bool Collaudo::cambiaArchivio(QString *errore)
{
    if (!m_archivio) {
        *errore = QStringLiteral("Nessun banco aperto per il collaudo.");
        return false;
    }
    const std::optional<Destinazione::Scelta> dove = Destinazione::scegli(QString(), errore);
    if (!dove)
        return false;
    if (dove->file != m_fileArchivio) {
        // A run being recorded holds the file: the new one is taken after it.
        if (inCorso()) {
            *errore = QStringLiteral("Un'unità è in prova: il nuovo archivio si sceglie dopo "
                                     "la fine della prova.");
            return false;
        }
        std::unique_ptr<Archivio> nuovo = Archivio::apriLocale(dove->file, errore);
        if (!nuovo)
            return false;
        m_inoltro.reset(); // it reads the old file
        m_archivio = std::move(nuovo);
        m_fileArchivio = dove->file;
        seminaSorveglianza();
    }
    collegaServer(dove->server);
    emit archivioCambiato();
    return true;
}

QString Collaudo::descrizioneArchivio() const
{
    return m_archivio ? Destinazione::breve(m_archivio->descrizione()) : QString();
}

QString Collaudo::testoPrecedenti(int prove, const QString &ultimo)
{
    if (prove <= 0)
        return {};
    static const char *const kOrdinali[]
        = {"seconda", "terza", "quarta", "quinta", "sesta", "settima", "ottava", "nona", "decima"};
    const int questa = prove + 1;
    const QString ordinale = questa - 2 < int(std::size(kOrdinali))
        ? QString::fromLatin1(kOrdinali[questa - 2])
        : QStringLiteral("%1ª").arg(questa);
    return QStringLiteral("%1 prova di questa unità; l'ultima: %2")
        .arg(ordinale, ultimo.isEmpty() ? QStringLiteral("in corso") : ultimo);
}

QString Collaudo::controllaSeriale(const QString &unitaLetta) const
{
    const QString unita = unitaLetta.trimmed();
    if (unita.isEmpty()) {
        return QStringLiteral("Il numero di serie è vuoto: leggere l'etichetta dell'unità con "
                              "il lettore, o scriverlo e premere Invio.");
    }
    if (!m_archivio)
        return QStringLiteral("Nessun banco aperto per il collaudo.");
    QString motivo = TestiAmmessi::controlla(unita, QStringLiteral("Il numero di serie"));
    if (!motivo.isEmpty())
        return motivo;
    if (!FileBanco::serialeDelBanco(m_modello.banco(), unita)) {
        return QStringLiteral("%1: «%2» non ha la forma %3 che il banco %4 dà ai suoi numeri "
                              "di serie. Leggere l'etichetta del numero di serie dell'unità.")
            .arg(maiuscola(FileBanco::kSerialeEstraneo), unita, m_modello.banco().modelloUnita,
                m_chi.banco);
    }
    return {};
}

QString Collaudo::avvisoPrecedenti(const QString &unita) const
{
    // A reference unit is tested again by design: its earlier runs are no news.
    if (!m_archivio || campioni().campione(unita))
        return {};
    const auto prima = m_archivio->precedenti(unita, m_chi.banco);
    return prima ? testoPrecedenti(prima->first, prima->second) : QString();
}

void Collaudo::preparaModello(ModelloTabella &modello, const QString &unita) const
{
    if (m_rigaVerifica >= 0) {
        // The serial read from the instrument is judged as the row's expected value.
        RigaBanco riga = modello.riga(m_rigaVerifica);
        riga.atteso = unita;
        modello.sostituisci(m_rigaVerifica, riga);
    }
    modello.azzeraLetture();
}

std::unique_ptr<RegistrazioneProve> Collaudo::registrazione(
    const ModelloTabella &modello, const QString &unita, const PostoBanco *posto) const
{
    if (!m_archivio)
        return nullptr;
    RegistrazioneProve::Chi chi = m_chi;
    chi.unita = unita;
    if (const std::optional<Campione> campione = campioni().campione(unita))
        chi.campione = campione->esito;
    if (posto) {
        chi.posto = posto->nome;
        chi.linea = QStringLiteral("%1, %2").arg(
            posto->porta, QString::number(posto->baud.value_or(m_modello.banco().baud)));
    }
    return std::make_unique<RegistrazioneProve>(*m_archivio, modello, chi);
}

void Collaudo::inoltraOra()
{
    if (m_inoltro)
        m_inoltro->inviaOra();
}

void Collaudo::provaFinita(const QString &uuid)
{
    inoltraOra();
    if (m_tracciabilita)
        m_tracciabilita->provaFinita(uuid);
}

bool Collaudo::ristampa(const QString &uuid, QString *motivo)
{
    if (!m_tracciabilita) {
        *motivo = QStringLiteral("Nessun banco aperto per il collaudo.");
        return false;
    }
    return m_tracciabilita->ristampa(uuid, motivo);
}

std::optional<Campioni::Stato> Collaudo::statoCampioni(const QString &posto) const
{
    if (!m_archivio || !campioni().attiva())
        return std::nullopt;
    return Campioni::statoNellArchivio(
        *m_archivio, campioni(), m_chi.stazione, m_chi.shaRighe, posto, m_avvio);
}

QString Collaudo::controllaCampioni(const QString &unita, const QString &posto) const
{
    if (!campioni().attiva() || campioni().campione(unita))
        return {};
    const std::optional<Campioni::Stato> stato = statoCampioni(posto);
    if (!stato) {
        return QStringLiteral("I campioni del banco non si possono controllare (%1): l'unità %2 "
                              "non si prova.")
            .arg(m_archivio ? m_archivio->errore() : QStringLiteral("nessun archivio"), unita);
    }
    const QString attesa = Campioni::testoAttesa(*stato, posto);
    if (attesa.isEmpty())
        return {};
    return QStringLiteral("L'unità %1 non si prova: %2").arg(unita, attesa);
}

bool Collaudo::avvia(const QString &unitaLetta, QString *motivo)
{
    const QString unita = unitaLetta.trimmed();
    if (m_lettura->inCorso()) {
        *motivo = QStringLiteral("La prova dell'unità %1 è in corso: attenderne la fine, o "
                                 "fermarla con Esc, prima di leggere la prossima.")
                      .arg(m_unita);
        return false;
    }
    *motivo = controllaSeriale(unita);
    if (motivo->isEmpty())
        *motivo = controllaCampioni(unita, QString());
    if (!motivo->isEmpty())
        return false;
    const QString avviso = avvisoPrecedenti(unita);
    preparaModello(m_modello, unita);
    m_unita = unita;
    m_lette = 0;
    m_fermata = false;
    m_chi.unita = unita;
    m_registrazione = registrazione(m_modello, unita, nullptr);
    if (!m_lettura->avvia(1, 0)) {
        *motivo = SequenzaRichieste::testoOccupata(m_lettura->motore().occupante());
        m_registrazione.reset();
        return false;
    }
    m_registrazione->inizia(QDateTime::currentDateTime());
    m_tentativo = m_registrazione->inCorso() ? m_registrazione->prova().tentativo : 0;
    emit avviata(unita, avviso);
    return true;
}

void Collaudo::ferma()
{
    m_fermata = m_lettura->inCorso();
    m_lettura->ferma();
}

void Collaudo::letta(int n, const RisultatoRichiesta &risultato)
{
    if (risultato.esito == RisultatoRichiesta::Esito::Interrotta)
        return;
    ++m_lette;
    if (m_registrazione)
        m_registrazione->lettura(n, risultato);
    emit rigaLetta(n);
}

void Collaudo::terminata(int, const QString &descrizione)
{
    if (!m_registrazione)
        return;
    const bool interrotta = m_fermata || m_lettura->motore().fermata();
    const bool incompleta = !interrotta && m_lette < m_modello.rowCount();
    const QString esito = m_registrazione->finisci(interrotta, incompleta);
    Esito fine = giudica(
        m_modello, m_rigaVerifica, m_unita, esito, m_lette, incompleta ? descrizione : QString());
    fine.tentativo = m_tentativo;
    fine.erroreArchivio = m_registrazione->errore();
    if (fine.erroreArchivio.isEmpty())
        fine.prova = m_registrazione->ultima().uuid;
    fine.campione = campioni().campione(m_unita).value_or(Campione{}).esito;
    m_registrazione.reset();
    // The outcome first: the report and the label follow it, never hold it up.
    emit finita(fine);
    provaFinita(fine.prova);
}

Collaudo::Esito Collaudo::giudica(const ModelloTabella &modello, int rigaVerifica,
    const QString &unita, const QString &esito, int lette, const QString &descrizione)
{
    using Stato = ModelloTabella::StatoRiga;
    Esito e;
    e.unita = unita;
    e.esito = esito;
    if (esito == Esiti::kInterrotta) {
        e.motivo = QStringLiteral("fermata dall'operatore dopo %1 di %2")
                       .arg(NumeriItaliani::conta(lette, QStringLiteral("riga"), QStringLiteral("righe")),
                           QString::number(modello.rowCount()));
        return e;
    }
    for (int n = 0; n < modello.rowCount(); ++n) {
        const Stato giudizio = modello.stato(n);
        if (giudizio == Stato::FuoriDaiLimiti || giudizio == Stato::NessunaRisposta
            || giudizio == Stato::Errore)
            e.scarti.append(scarto(modello, n, rigaVerifica, unita));
        if (!e.motivo.isEmpty())
            continue;
        // The line's error is the port's, whichever row met it: its message says what to do.
        if (esito == Esiti::kErrore && giudizio == Stato::Errore)
            e.motivo = stato(modello, n);
        // On a line that works, a unit that does not answer is a failed unit.
        if (esito == Esiti::kSenzaRisposta && giudizio == Stato::NessunaRisposta) {
            e.motivo = QStringLiteral("%1: %2. Controllare l'unità nel suo alloggiamento "
                                      "(inserita a fondo, contatti puliti) e leggerla di nuovo.")
                           .arg(modello.riga(n).nomeMostrato(), stato(modello, n));
        }
    }
    if (e.motivo.isEmpty() && esito == Esiti::kErrore) {
        e.motivo = QStringLiteral("%1 %2 di %3")
                       .arg(lette == 1 ? QStringLiteral("letta") : QStringLiteral("lette"),
                           NumeriItaliani::conta(lette, QStringLiteral("riga"), QStringLiteral("righe")),
                           QString::number(modello.rowCount()));
        if (!descrizione.isEmpty())
            e.motivo += QStringLiteral(": ") + descrizione;
    }
    return e;
}

Collaudo::Giornata Collaudo::giornata(const QString &posto)
{
    Giornata g;
    if (!m_archivio)
        return g;
    FiltroProve oggi;
    oggi.dal = oggi.al = QDate::currentDate();
    oggi.stazione = m_chi.stazione;
    oggi.posto = posto;
    const std::optional<QList<ResaBanco>> rese = m_archivio->rese(oggi);
    if (!rese) {
        g.errore = m_archivio->errore();
        return g;
    }
    qint64 alPrimo = 0;
    for (const ResaBanco &r : *rese) {
        g.unita += r.unita;
        g.conformi += r.conformiAllUltimo;
        g.daRipetere += r.daRipetere;
        alPrimo += r.conformiAlPrimo;
    }
    g.nonConformi = g.unita - g.conformi;
    if (m_giornoDerive == QDate::currentDate()) {
        if (posto.isEmpty()) {
            for (const qint64 quante : std::as_const(m_derive))
                g.derive += quante;
        } else {
            g.derive = m_derive.value(posto);
        }
    }
    if (g.unita > 0)
        g.resaAlPrimo = double(alPrimo) / double(g.unita);
    if (m_inoltro && posto.isEmpty()) {
        // The file's count is the freshest: a run just ended waits before the send says so.
        g.inoltro = m_statoInoltro.value_or(StatoInoltro());
        g.inoltro->inAttesa = std::max<qint64>(m_archivio->inAttesa(), 0);
        g.server = m_server->url;
    }
    return g;
}
