-- Brings the archive of a line on PostgreSQL from version 2 of its tables to version 3: runs
-- carry the fixture's socket the unit was read at, which a station may add, and a new table keeps
-- each time a station's socket was taken out of service or put back. The runs already
-- there stay as they are, without a socket. A server of version 1 is first brought to version 2
-- by aggiorna-postgresql-2.sql.
-- psql -d banco -v ON_ERROR_STOP=1 -f aggiorna-postgresql-3.sql, as the owner of the tables.
-- All or nothing, in one transaction. Tables already at version 3 or later are left as they
-- are; any other version is refused with a message.
BEGIN;

DO $aggiorna$
DECLARE
    trovata integer;
BEGIN
    IF to_regclass('banco_schema') IS NULL THEN
        RAISE EXCEPTION 'questo database non ha le tabelle dell''archivio di Banco Seriale: crearle con schema-postgresql.sql';
    END IF;
    -- Two upgrades at once: the second waits for the first and finds version 3.
    SELECT versione INTO trovata FROM banco_schema FOR UPDATE;
    IF trovata >= 3 THEN
        RAISE NOTICE 'le tabelle dell''archivio sono già della versione %: nulla da aggiornare', trovata;
        RETURN;
    END IF;
    IF trovata = 1 THEN
        RAISE EXCEPTION 'le tabelle dell''archivio sono della versione 1: aggiornarle prima con aggiorna-postgresql-2.sql, poi con questo script';
    END IF;
    IF trovata IS DISTINCT FROM 2 THEN
        RAISE EXCEPTION 'le tabelle dell''archivio sono della versione %: questo script aggiorna soltanto la versione 2 alla 3', trovata;
    END IF;

    -- At the end of the table, as in schema-postgresql.sql; the default fills the rows there.
    ALTER TABLE prove ADD COLUMN posto text NOT NULL DEFAULT '';
    -- A station inserts only the columns granted to it: the new one too. The checks of the
    -- row-level security policies do not look at it.
    GRANT INSERT (posto) ON prove TO banco_stazione;

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
    GRANT SELECT ON servizio_posti TO banco_stazione;
    GRANT INSERT (uuid, stazione, banco, posto, in_servizio, operatore, quando, motivo, ricevuta)
        ON servizio_posti TO banco_stazione;
    GRANT USAGE ON SEQUENCE servizio_posti_id_seq TO banco_stazione;
    ALTER TABLE servizio_posti ENABLE ROW LEVEL SECURITY;
    CREATE POLICY stazioni_leggono ON servizio_posti FOR SELECT TO banco_stazione USING (true);
    CREATE POLICY stazioni_aggiungono ON servizio_posti FOR INSERT TO banco_stazione
        WITH CHECK (banco_prova_ammessa(stazione, ricevuta));

    UPDATE banco_schema SET versione = 3;
END
$aggiorna$;

COMMIT;
