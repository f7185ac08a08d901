-- Brings the archive of a line on PostgreSQL from version 4 of its tables to version 5: each run
-- carries its digest, whether it read a reference unit and whether it was read before the
-- references proved the bench; a new table keeps every label the stations printed or tried.
-- Runs already here keep an empty digest: one computed now would not attest the run as it was
-- when it ended. A server of an earlier version is first brought to version 4 by the scripts
-- before this one, in order.
-- psql -d banco -v ON_ERROR_STOP=1 -f aggiorna-postgresql-5.sql, as the owner of the tables.
-- All or nothing, in one transaction. Tables already at version 5 or later are left as they
-- are; any other version is refused with a message.
BEGIN;

DO $aggiorna$
DECLARE
    trovata integer;
BEGIN
    IF to_regclass('banco_schema') IS NULL THEN
        RAISE EXCEPTION 'questo database non ha le tabelle dell''archivio di Banco Seriale: crearle con schema-postgresql.sql';
    END IF;
    -- Two upgrades at once: the second waits for the first and finds version 5.
    SELECT versione INTO trovata FROM banco_schema FOR UPDATE;
    IF trovata >= 5 THEN
        RAISE NOTICE 'le tabelle dell''archivio sono già della versione %: nulla da aggiornare', trovata;
        RETURN;
    END IF;
    IF trovata IN (1, 2, 3) THEN
        RAISE EXCEPTION 'le tabelle dell''archivio sono della versione %: aggiornarle prima con aggiorna-postgresql-%.sql (e gli script che seguono), poi con questo script', trovata, trovata + 1;
    END IF;
    IF trovata IS DISTINCT FROM 4 THEN
        RAISE EXCEPTION 'le tabelle dell''archivio sono della versione %: questo script aggiorna soltanto la versione 4 alla 5', trovata;
    END IF;

    ALTER TABLE prove ADD COLUMN impronta text NOT NULL DEFAULT '';
    ALTER TABLE prove ADD COLUMN campione text NOT NULL DEFAULT '';
    ALTER TABLE prove ADD COLUMN senza_campioni boolean NOT NULL DEFAULT false;
    GRANT INSERT (impronta, campione, senza_campioni) ON prove TO banco_stazione;

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
    GRANT SELECT ON stampe TO banco_stazione;
    GRANT INSERT (uuid, prova, stazione, quando, stampante, riuscita, motivo, zpl, ristampa,
        ricevuta) ON stampe TO banco_stazione;
    GRANT USAGE ON SEQUENCE stampe_id_seq TO banco_stazione;
    ALTER TABLE stampe ENABLE ROW LEVEL SECURITY;
    CREATE POLICY stazioni_leggono ON stampe FOR SELECT TO banco_stazione USING (true);
    CREATE POLICY stazioni_aggiungono ON stampe FOR INSERT TO banco_stazione
        WITH CHECK (banco_prova_ammessa(stazione, ricevuta));

    UPDATE banco_schema SET versione = 5;
END
$aggiorna$;

COMMIT;
