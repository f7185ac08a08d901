-- Brings the archive of a line on PostgreSQL from version 1 of its tables to version 2: a station
-- adds runs only under its login's name or a name stazioni_consentite allows the login, and
-- readings only of a run added in the same transaction; runs carry the digest of their bench's
-- rows and readings their unit. The runs already there stay as they are.
-- psql -d banco -v ON_ERROR_STOP=1 -f aggiorna-postgresql-2.sql, as the owner of the tables.
-- All or nothing, in one transaction. Tables already at version 2 are left as they are; any
-- other version is refused with a message.
BEGIN;

DO $aggiorna$
DECLARE
    trovata integer;
BEGIN
    IF to_regclass('banco_schema') IS NULL THEN
        RAISE EXCEPTION 'questo database non ha le tabelle dell''archivio di Banco Seriale: crearle con schema-postgresql.sql';
    END IF;
    -- Two upgrades at once: the second waits for the first and finds version 2.
    SELECT versione INTO trovata FROM banco_schema FOR UPDATE;
    IF trovata = 2 THEN
        RAISE NOTICE 'le tabelle dell''archivio sono già della versione 2: nulla da aggiornare';
        RETURN;
    END IF;
    IF trovata IS DISTINCT FROM 1 THEN
        RAISE EXCEPTION 'le tabelle dell''archivio sono della versione %: questo script aggiorna soltanto la versione 1 alla 2', trovata;
    END IF;

    -- At the end of each table, as in schema-postgresql.sql; the defaults fill the rows there.
    ALTER TABLE prove ADD COLUMN sha_righe text NOT NULL DEFAULT '';
    ALTER TABLE letture ADD COLUMN unita_misura text NOT NULL DEFAULT '';
    CREATE INDEX prove_per_versione ON prove ((COALESCE(NULLIF(sha_righe, ''), sha_banco)));

    CREATE TABLE stazioni_consentite (
        login text NOT NULL,
        stazione text NOT NULL,
        PRIMARY KEY (login, stazione)
    );

-- The checks of what a station adds, called by the row-level security policies below: at the
-- margin, word for word as in schema-postgresql.sql, a server upgraded having the same. They run
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

    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'banco_stazione') THEN
        CREATE ROLE banco_stazione NOLOGIN;
    END IF;
    -- Version 1 let a station insert any column of a run.
    REVOKE INSERT ON prove FROM banco_stazione;
    GRANT INSERT (uuid, stazione, operatore, unita, tentativo, banco, sha_banco, linea, inizio, fine,
        esito, ricevuta, sha_righe) ON prove TO banco_stazione;
    REVOKE ALL ON FUNCTION banco_prova_ammessa(text, timestamptz), banco_lettura_ammessa(bigint)
        FROM PUBLIC;
    GRANT EXECUTE ON FUNCTION banco_prova_ammessa(text, timestamptz), banco_lettura_ammessa(bigint)
        TO banco_stazione;

    ALTER TABLE prove ENABLE ROW LEVEL SECURITY;
    CREATE POLICY stazioni_leggono ON prove FOR SELECT TO banco_stazione USING (true);
    CREATE POLICY stazioni_aggiungono ON prove FOR INSERT TO banco_stazione
        WITH CHECK (banco_prova_ammessa(stazione, ricevuta));
    ALTER TABLE letture ENABLE ROW LEVEL SECURITY;
    CREATE POLICY stazioni_leggono ON letture FOR SELECT TO banco_stazione USING (true);
    CREATE POLICY stazioni_aggiungono ON letture FOR INSERT TO banco_stazione
        WITH CHECK (banco_lettura_ammessa(prova));

    UPDATE banco_schema SET versione = 2;
END
$aggiorna$;

COMMIT;
