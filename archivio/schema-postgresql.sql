-- The archive of a line of stations on PostgreSQL: every station sends its runs here.
-- psql -d banco -v ON_ERROR_STOP=1 -f schema-postgresql.sql, as the database's owner, who is
-- bound by none of the rules below. A server of an earlier version is brought here instead by the
-- upgrade scripts after its version, in order: aggiorna-postgresql-2.sql, aggiorna-postgresql-3.sql,
-- aggiorna-postgresql-4.sql, aggiorna-postgresql-5.sql.
-- The stations log in with roles that are members of banco_stazione. They read every run; they
-- add runs only under their login's name or a name stazioni_consentite allows the login, and
-- readings only of a run added in the same transaction; they never change or delete one.
BEGIN;

CREATE TABLE banco_schema (versione integer NOT NULL);
INSERT INTO banco_schema VALUES (5);

CREATE TABLE prove (
    id bigserial PRIMARY KEY,
    uuid uuid NOT NULL UNIQUE,
    stazione text NOT NULL,
    operatore text NOT NULL,
    unita text NOT NULL,
    tentativo integer NOT NULL,
    banco text NOT NULL,
    sha_banco text NOT NULL,
    linea text NOT NULL,
    inizio timestamptz NOT NULL,
    fine timestamptz,
    esito text,
    ricevuta timestamptz NOT NULL DEFAULT now(),
    -- The digest of the bench's rows: a row's statistics are over the runs of one digest.
    sha_righe text NOT NULL DEFAULT '',
    -- The fixture's socket the unit was read at; '' for a bench without sockets.
    posto text NOT NULL DEFAULT '',
    -- SHA-256 of the run as the station archived it, in its canonical form; '' for a run
    -- archived before stations kept it.
    impronta text NOT NULL DEFAULT '',
    -- A reference unit's run: the outcome the unit must give; '' for a production unit.
    campione text NOT NULL DEFAULT '',
    -- Read before the bench's reference units had proved it, by the operator's choice.
    senza_campioni boolean NOT NULL DEFAULT false
);
CREATE INDEX prove_per_unita ON prove (unita, banco, inizio);
CREATE INDEX prove_per_inizio ON prove (inizio);
-- The bench's version as figures group runs: the index gives the planner its statistics.
CREATE INDEX prove_per_versione ON prove ((COALESCE(NULLIF(sha_righe, ''), sha_banco)));

CREATE TABLE letture (
    prova bigint NOT NULL REFERENCES prove (id),
    n integer NOT NULL,
    nome text NOT NULL,
    strumento integer NOT NULL,
    memoria text NOT NULL,
    parola integer,
    valore double precision,
    valore_mostrato text NOT NULL,
    minimo double precision,
    massimo double precision,
    atteso text NOT NULL,
    stato text NOT NULL,
    giudizio integer NOT NULL,
    latenza_ms double precision,
    istante timestamptz NOT NULL,
    unita_misura text NOT NULL DEFAULT '',
    PRIMARY KEY (prova, n)
);

-- The names of stations a login may write runs under besides its own (a station renamed, one
-- machine sending for two stations). Only the administrator reads and writes it.
-- Each time a station's socket was taken out of service or put back: who, when and why.
CREATE TABLE servizio_posti (
    id bigserial PRIMARY KEY,
    uuid uuid NOT NULL UNIQUE,
    stazione text NOT NULL,
    banco text NOT NULL,
    posto text NOT NULL,
    in_servizio boolean NOT NULL,
    operatore text NOT NULL,
    quando timestamptz NOT NULL,
    motivo text NOT NULL DEFAULT '',
    ricevuta timestamptz NOT NULL DEFAULT now()
);
CREATE INDEX servizio_per_posto ON servizio_posti (stazione, banco, posto, quando);

-- The control limits an engineer fixed for a chart (a row of a bench version at a socket), sent
-- by the station where they were fixed: added, never changed or removed; the latest is used.
CREATE TABLE limiti_carta (
    id bigserial PRIMARY KEY,
    uuid uuid NOT NULL UNIQUE,
    stazione text NOT NULL,
    operatore text NOT NULL,
    quando timestamptz NOT NULL,
    banco text NOT NULL,
    versione text NOT NULL,
    posto text NOT NULL,
    n integer NOT NULL,
    nome text NOT NULL,
    centro double precision NOT NULL,
    mr_medio double precision NOT NULL,
    valori bigint NOT NULL,
    ricevuta timestamptz NOT NULL DEFAULT now()
);
CREATE INDEX limiti_per_carta ON limiti_carta (versione, posto, n, quando);

-- Every label a station printed or tried for a run, as it sent it: added, never changed.
CREATE TABLE stampe (
    id bigserial PRIMARY KEY,
    uuid uuid NOT NULL UNIQUE,
    prova uuid NOT NULL,
    stazione text NOT NULL,
    quando timestamptz NOT NULL,
    stampante text NOT NULL,
    riuscita boolean NOT NULL,
    motivo text NOT NULL,
    zpl bytea NOT NULL,
    ristampa boolean NOT NULL,
    ricevuta timestamptz NOT NULL DEFAULT now()
);
CREATE INDEX stampe_per_prova ON stampe (prova, id);

CREATE TABLE stazioni_consentite (
    login text NOT NULL,
    stazione text NOT NULL,
    PRIMARY KEY (login, stazione)
);

-- The checks of what a station adds, called by the row-level security policies below. They run
-- as the owner of the tables, who sees every run and stazioni_consentite; the login is
-- session_user, whatever role the session has set. A refusal raises an error with SQLSTATE
-- 42501 (insufficient_privilege, as PostgreSQL's own refusals) and a message for the operator.
-- The tables are in the schema public; pg_temp last, so that a temporary table of a station
-- cannot stand in for one of them.
CREATE FUNCTION banco_prova_ammessa(nome_stazione text, ora_ricevuta timestamptz)
    RETURNS boolean LANGUAGE plpgsql STABLE SECURITY DEFINER
    SET search_path = public, pg_temp
AS $$
BEGIN
    IF ora_ricevuta IS DISTINCT FROM now() THEN
        RAISE EXCEPTION 'la stazione «%» non può dare a una prova l''ora di ricezione (%): la dà il server',
                session_user, ora_ricevuta
            USING ERRCODE = 'insufficient_privilege';
    END IF;
    IF nome_stazione IS DISTINCT FROM session_user::text AND NOT EXISTS (
            SELECT FROM stazioni_consentite c
            WHERE c.login = session_user::text AND c.stazione = nome_stazione) THEN
        RAISE EXCEPTION 'la stazione «%» non può scrivere prove a nome di «%»: solo a nome proprio o di una stazione consentita dall''amministratore del server',
                session_user, nome_stazione
            USING ERRCODE = 'insufficient_privilege',
                HINT = format('L''amministratore del server può consentirlo con INSERT INTO stazioni_consentite VALUES (%L, %L);',
                    session_user, nome_stazione);
    END IF;
    RETURN true;
END
$$;

-- A reading goes with its run: the run was received in this transaction (ricevuta is now() for
-- a run a station adds) under a name the login may write.
CREATE FUNCTION banco_lettura_ammessa(id_prova bigint)
    RETURNS boolean LANGUAGE plpgsql STABLE SECURITY DEFINER
    SET search_path = public, pg_temp
AS $$
DECLARE
    p record;
BEGIN
    SELECT stazione, ricevuta INTO p FROM prove WHERE id = id_prova;
    IF NOT FOUND THEN
        RAISE EXCEPTION 'la stazione «%» invia letture della prova %, che non c''è: le letture vanno inviate con la loro prova',
                session_user, id_prova
            USING ERRCODE = 'insufficient_privilege';
    END IF;
    IF p.ricevuta <> now() THEN
        RAISE EXCEPTION 'la stazione «%» non può aggiungere letture alla prova % di «%», già registrata: le letture vanno inviate con la loro prova',
                session_user, id_prova, p.stazione
            USING ERRCODE = 'insufficient_privilege';
    END IF;
    IF p.stazione IS DISTINCT FROM session_user::text AND NOT EXISTS (
            SELECT FROM stazioni_consentite c
            WHERE c.login = session_user::text AND c.stazione = p.stazione) THEN
        RAISE EXCEPTION 'la stazione «%» non può scrivere letture di prove a nome di «%»',
                session_user, p.stazione
            USING ERRCODE = 'insufficient_privilege';
    END IF;
    RETURN true;
END
$$;

DO $$
BEGIN
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'banco_stazione') THEN
        CREATE ROLE banco_stazione NOLOGIN;
    END IF;
END
$$;
GRANT SELECT ON banco_schema TO banco_stazione;
-- Every column of a run but its id, which only the sequence gives (an id a station chose could
-- take the one the sequence gives another station next). A new column needs its own GRANT.
GRANT SELECT ON prove TO banco_stazione;
GRANT INSERT (uuid, stazione, operatore, unita, tentativo, banco, sha_banco, linea, inizio, fine,
    esito, ricevuta, sha_righe, posto, impronta, campione, senza_campioni) ON prove TO banco_stazione;
GRANT SELECT, INSERT ON letture TO banco_stazione;
GRANT SELECT ON servizio_posti TO banco_stazione;
GRANT INSERT (uuid, stazione, banco, posto, in_servizio, operatore, quando, motivo, ricevuta)
    ON servizio_posti TO banco_stazione;
GRANT USAGE ON SEQUENCE servizio_posti_id_seq TO banco_stazione;
GRANT SELECT ON limiti_carta TO banco_stazione;
GRANT INSERT (uuid, stazione, operatore, quando, banco, versione, posto, n, nome, centro, mr_medio,
    valori, ricevuta) ON limiti_carta TO banco_stazione;
GRANT USAGE ON SEQUENCE limiti_carta_id_seq TO banco_stazione;
GRANT SELECT ON stampe TO banco_stazione;
GRANT INSERT (uuid, prova, stazione, quando, stampante, riuscita, motivo, zpl, ristampa, ricevuta)
    ON stampe TO banco_stazione;
GRANT USAGE ON SEQUENCE stampe_id_seq TO banco_stazione;
GRANT USAGE ON SEQUENCE prove_id_seq TO banco_stazione;
REVOKE ALL ON FUNCTION banco_prova_ammessa(text, timestamptz), banco_lettura_ammessa(bigint)
    FROM PUBLIC;
GRANT EXECUTE ON FUNCTION banco_prova_ammessa(text, timestamptz), banco_lettura_ammessa(bigint)
    TO banco_stazione;

-- The history reads every run; what a station adds is checked. No policy lets a station change
-- or delete a row (nor does any GRANT).
ALTER TABLE prove ENABLE ROW LEVEL SECURITY;
CREATE POLICY stazioni_leggono ON prove FOR SELECT TO banco_stazione USING (true);
CREATE POLICY stazioni_aggiungono ON prove FOR INSERT TO banco_stazione
    WITH CHECK (banco_prova_ammessa(stazione, ricevuta));
ALTER TABLE servizio_posti ENABLE ROW LEVEL SECURITY;
CREATE POLICY stazioni_leggono ON servizio_posti FOR SELECT TO banco_stazione USING (true);
CREATE POLICY stazioni_aggiungono ON servizio_posti FOR INSERT TO banco_stazione
    WITH CHECK (banco_prova_ammessa(stazione, ricevuta));
ALTER TABLE limiti_carta ENABLE ROW LEVEL SECURITY;
CREATE POLICY stazioni_leggono ON limiti_carta FOR SELECT TO banco_stazione USING (true);
CREATE POLICY stazioni_aggiungono ON limiti_carta FOR INSERT TO banco_stazione
    WITH CHECK (banco_prova_ammessa(stazione, ricevuta));
ALTER TABLE stampe ENABLE ROW LEVEL SECURITY;
CREATE POLICY stazioni_leggono ON stampe FOR SELECT TO banco_stazione USING (true);
CREATE POLICY stazioni_aggiungono ON stampe FOR INSERT TO banco_stazione
    WITH CHECK (banco_prova_ammessa(stazione, ricevuta));
ALTER TABLE letture ENABLE ROW LEVEL SECURITY;
CREATE POLICY stazioni_leggono ON letture FOR SELECT TO banco_stazione USING (true);
CREATE POLICY stazioni_aggiungono ON letture FOR INSERT TO banco_stazione
    WITH CHECK (banco_lettura_ammessa(prova));

COMMIT;
