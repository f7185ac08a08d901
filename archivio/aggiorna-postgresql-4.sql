-- Brings the archive of a line on PostgreSQL from version 3 of its tables to version 4: a new
-- table keeps the control limits an engineer fixed for a chart, sent by the stations like runs.
-- Nothing already there changes. A server of an earlier version is first brought to version 3
-- by aggiorna-postgresql-2.sql and aggiorna-postgresql-3.sql, in order.
-- psql -d banco -v ON_ERROR_STOP=1 -f aggiorna-postgresql-4.sql, as the owner of the tables.
-- All or nothing, in one transaction. Tables already at version 4 or later are left as they
-- are; any other version is refused with a message.
BEGIN;

DO $aggiorna$
DECLARE
    trovata integer;
BEGIN
    IF to_regclass('banco_schema') IS NULL THEN
        RAISE EXCEPTION 'questo database non ha le tabelle dell''archivio di Banco Seriale: crearle con schema-postgresql.sql';
    END IF;
    -- Two upgrades at once: the second waits for the first and finds version 4.
    SELECT versione INTO trovata FROM banco_schema FOR UPDATE;
    IF trovata >= 4 THEN
        RAISE NOTICE 'le tabelle dell''archivio sono già della versione %: nulla da aggiornare', trovata;
        RETURN;
    END IF;
    IF trovata IN (1, 2) THEN
        RAISE EXCEPTION 'le tabelle dell''archivio sono della versione %: aggiornarle prima con aggiorna-postgresql-%.sql (e gli script che seguono), poi con questo script', trovata, trovata + 1;
    END IF;
    IF trovata IS DISTINCT FROM 3 THEN
        RAISE EXCEPTION 'le tabelle dell''archivio sono della versione %: questo script aggiorna soltanto la versione 3 alla 4', trovata;
    END IF;

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
    GRANT SELECT ON limiti_carta TO banco_stazione;
    GRANT INSERT (uuid, stazione, operatore, quando, banco, versione, posto, n, nome, centro,
        mr_medio, valori, ricevuta) ON limiti_carta TO banco_stazione;
    GRANT USAGE ON SEQUENCE limiti_carta_id_seq TO banco_stazione;
    ALTER TABLE limiti_carta ENABLE ROW LEVEL SECURITY;
    CREATE POLICY stazioni_leggono ON limiti_carta FOR SELECT TO banco_stazione USING (true);
    CREATE POLICY stazioni_aggiungono ON limiti_carta FOR INSERT TO banco_stazione
        WITH CHECK (banco_prova_ammessa(stazione, ricevuta));

    UPDATE banco_schema SET versione = 4;
END
$aggiorna$;

COMMIT;
