-- The archive of a line of stations on PostgreSQL: every station sends its runs here.
-- psql -d banco -v ON_ERROR_STOP=1 -f schema-postgresql.sql, as the database's owner.
-- The stations log in with roles that are members of banco_stazione: they may add runs and read
-- them, never change or delete one.
BEGIN;

CREATE TABLE banco_schema (versione integer NOT NULL);
INSERT INTO banco_schema VALUES (1);

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
    ricevuta timestamptz NOT NULL DEFAULT now()
);
CREATE INDEX prove_per_unita ON prove (unita, banco, inizio);
CREATE INDEX prove_per_inizio ON prove (inizio);

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
    PRIMARY KEY (prova, n)
);

DO $$
BEGIN
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'banco_stazione') THEN
        CREATE ROLE banco_stazione NOLOGIN;
    END IF;
END
$$;
GRANT SELECT ON banco_schema TO banco_stazione;
GRANT SELECT, INSERT ON prove, letture TO banco_stazione;
GRANT USAGE ON SEQUENCE prove_id_seq TO banco_stazione;

COMMIT;
