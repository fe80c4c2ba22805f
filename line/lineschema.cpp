#include "lineschema.h"

#include "linedatabase.h"

namespace {

// Version 1. Stations never touch the tables: they call the functions, which run as the
// schema's owner with a fixed search path, and record who called them (session_user).
const char createScript[] = R"sql(
BEGIN;
CREATE SCHEMA IF NOT EXISTS korvane;
REVOKE ALL ON SCHEMA korvane FROM PUBLIC;

CREATE TABLE korvane.schema_info (
    version integer NOT NULL
);
INSERT INTO korvane.schema_info (version) VALUES (1);

CREATE TABLE korvane.records (
    station text NOT NULL,
    day date NOT NULL,
    seq bigint NOT NULL,
    line text NOT NULL,
    hash text NOT NULL,
    prev text NOT NULL,
    time text,
    level text,
    cpu_id text,
    exit_code integer,
    db_user name NOT NULL DEFAULT session_user,
    uploaded timestamptz NOT NULL DEFAULT now(),
    PRIMARY KEY (station, day, seq)
);
CREATE INDEX records_cpu_id ON korvane.records (cpu_id);

CREATE TABLE korvane.broken_chains (
    id bigserial PRIMARY KEY,
    station text,
    day date,
    seq bigint,
    why text,
    line text,
    db_user name DEFAULT session_user,
    found timestamptz DEFAULT now()
);
-- The same broken line uploaded again is one finding, not two.
CREATE UNIQUE INDEX broken_chains_once ON korvane.broken_chains (station, day, seq, md5(line));

CREATE TABLE korvane.claims (
    id bigserial PRIMARY KEY,
    cpu_id text NOT NULL,
    station text NOT NULL,
    since text NOT NULL,
    host text,
    pid bigint,
    db_user name NOT NULL DEFAULT session_user,
    state text NOT NULL CHECK (state IN ('open', 'written', 'failed', 'released')),
    settled timestamptz,
    released_by name,
    released timestamptz,
    reason text
);
-- At most one open claim per CPU id: the line-wide claim is an insert against it.
CREATE UNIQUE INDEX claims_open ON korvane.claims (cpu_id) WHERE state = 'open';
CREATE INDEX claims_cpu_id ON korvane.claims (cpu_id);

CREATE FUNCTION korvane.claim_cpu_id(p_cpu_id text, p_station text, p_since text, p_host text,
    p_pid bigint, p_take_when_written boolean)
RETURNS TABLE (outcome text, at_time text, at_station text)
LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = korvane, pg_temp
AS $function$
#variable_conflict use_column
DECLARE
    v_id bigint;
    v_open record;
    v_first record;
BEGIN
    -- The claim first, the look for a write after it: a station that settles a claim as
    -- written commits before this insert can succeed, so the look below sees it.
    LOOP
        v_id := NULL;
        INSERT INTO korvane.claims (cpu_id, station, since, host, pid, state)
        VALUES (p_cpu_id, p_station, p_since, p_host, p_pid, 'open')
        ON CONFLICT (cpu_id) WHERE state = 'open' DO NOTHING
        RETURNING id INTO v_id;
        EXIT WHEN v_id IS NOT NULL;
        SELECT c.id, c.since, c.station, c.db_user INTO v_open
        FROM korvane.claims c WHERE c.cpu_id = p_cpu_id AND c.state = 'open';
        IF FOUND THEN
            -- The same action asking again (its answer was lost): it holds the claim.
            IF v_open.station = p_station AND v_open.since = p_since AND v_open.db_user = session_user THEN
                v_id := v_open.id;
                EXIT;
            END IF;
            RETURN QUERY SELECT 'in_doubt'::text, v_open.since, v_open.station;
            RETURN;
        END IF;
        -- Settled between the insert and the look: claim again.
    END LOOP;

    SELECT w.at_time, w.at_station INTO v_first FROM (
        SELECT c.since AS at_time, c.station AS at_station
        FROM korvane.claims c WHERE c.cpu_id = p_cpu_id AND c.state = 'written'
        UNION ALL
        SELECT r.time, r.station
        FROM korvane.records r WHERE r.cpu_id = p_cpu_id AND r.level = 'basic' AND r.exit_code = 0
    ) w ORDER BY w.at_time LIMIT 1;
    IF FOUND THEN
        IF NOT p_take_when_written THEN
            -- The claim never guarded a write.
            DELETE FROM korvane.claims WHERE id = v_id;
        END IF;
        RETURN QUERY SELECT 'written'::text, v_first.at_time, v_first.at_station;
        RETURN;
    END IF;
    RETURN QUERY SELECT 'claimed'::text, p_since, p_station;
END;
$function$;

CREATE FUNCTION korvane.upload_record(p_day date, p_line text)
RETURNS TABLE (outcome text, why text)
LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = korvane, pg_temp
AS $function$
#variable_conflict use_column
DECLARE
    v_record jsonb;
    v_station text;
    v_seq bigint;
    v_prev text;
    v_hash text;
    v_stored text;
    v_why text;
    v_outcome text := 'stored';
BEGIN
    BEGIN
        v_record := p_line::jsonb;
    EXCEPTION WHEN others THEN
        RAISE EXCEPTION 'not a trace record: %', left(p_line, 80) USING ERRCODE = '22023';
    END;
    IF jsonb_typeof(v_record) IS DISTINCT FROM 'object'
        OR jsonb_typeof(v_record -> 'station') IS DISTINCT FROM 'string'
        OR jsonb_typeof(v_record -> 'seq') IS DISTINCT FROM 'number'
        OR jsonb_typeof(v_record -> 'prev') IS DISTINCT FROM 'string' THEN
        RAISE EXCEPTION 'not a trace record: %', left(p_line, 80) USING ERRCODE = '22023';
    END IF;
    v_station := v_record ->> 'station';
    v_seq := (v_record ->> 'seq')::bigint;
    v_prev := v_record ->> 'prev';
    v_hash := encode(sha256(convert_to(p_line, 'UTF8')), 'hex');

    -- One chain at a time: the look at the record before and the insert stay together.
    PERFORM pg_advisory_xact_lock(hashtextextended(v_station || '/' || p_day::text, 0));

    SELECT r.hash INTO v_stored FROM korvane.records r
    WHERE r.station = v_station AND r.day = p_day AND r.seq = v_seq;
    IF FOUND THEN
        IF v_stored = v_hash THEN
            v_outcome := 'already';
        ELSE
            v_why := 'differs from the stored record';
        END IF;
    ELSIF v_seq = 1 THEN
        IF v_prev <> repeat('0', 64) THEN
            v_why := 'the first record''s prev is not zeros';
        END IF;
    ELSE
        SELECT r.hash INTO v_stored FROM korvane.records r
        WHERE r.station = v_station AND r.day = p_day AND r.seq = v_seq - 1;
        IF NOT FOUND THEN
            v_why := format('record %s is missing', v_seq - 1);
        ELSIF v_stored <> v_prev THEN
            v_why := format('prev does not match the stored record %s', v_seq - 1);
        END IF;
    END IF;
    IF v_why IS NOT NULL THEN
        INSERT INTO korvane.broken_chains (station, day, seq, why, line)
        VALUES (v_station, p_day, v_seq, v_why, p_line)
        ON CONFLICT DO NOTHING;
        RETURN QUERY SELECT 'broken'::text, v_why;
        RETURN;
    END IF;

    IF v_outcome = 'stored' THEN
        INSERT INTO korvane.records (station, day, seq, line, hash, prev, time, level, cpu_id, exit_code)
        VALUES (v_station, p_day, v_seq, p_line, v_hash, v_prev, v_record ->> 'time', v_record ->> 'level',
            v_record ->> 'cpu_id', (v_record ->> 'exit_code')::integer);
    END IF;

    -- The action's record settles the claim made for it, by the login that made it. Sent
    -- again too: a claim whose commit waited for a synchronous standby may show only now.
    IF v_record ->> 'level' = 'basic' AND v_record ->> 'cpu_id' IS NOT NULL THEN
        UPDATE korvane.claims c
        SET state = CASE WHEN (v_record ->> 'exit_code')::integer = 0 THEN 'written' ELSE 'failed' END,
            settled = now()
        WHERE c.cpu_id = v_record ->> 'cpu_id' AND c.state = 'open' AND c.station = v_station
            AND c.since = v_record ->> 'time' AND c.db_user = session_user;
    END IF;
    RETURN QUERY SELECT v_outcome, NULL::text;
END;
$function$;

CREATE FUNCTION korvane.release_claim(p_cpu_id text, p_reason text)
RETURNS integer
LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = korvane, pg_temp
AS $function$
DECLARE
    v_count integer;
BEGIN
    UPDATE korvane.claims
    SET state = 'released', released_by = session_user, released = now(), reason = p_reason
    WHERE cpu_id = p_cpu_id AND state = 'open';
    GET DIAGNOSTICS v_count = ROW_COUNT;
    RETURN v_count;
END;
$function$;

REVOKE ALL ON ALL TABLES IN SCHEMA korvane FROM PUBLIC;
REVOKE ALL ON ALL SEQUENCES IN SCHEMA korvane FROM PUBLIC;
REVOKE ALL ON FUNCTION korvane.claim_cpu_id(text, text, text, text, bigint, boolean) FROM PUBLIC;
REVOKE ALL ON FUNCTION korvane.upload_record(date, text) FROM PUBLIC;
REVOKE ALL ON FUNCTION korvane.release_claim(text, text) FROM PUBLIC;
COMMIT;
)sql";

const char rolesScript[] = R"sql(
BEGIN;
DO $roles$
BEGIN
    IF NOT EXISTS (SELECT 1 FROM pg_catalog.pg_roles WHERE rolname = 'korvane_station') THEN
        CREATE ROLE korvane_station NOLOGIN;
    END IF;
    IF NOT EXISTS (SELECT 1 FROM pg_catalog.pg_roles WHERE rolname = 'korvane_supervisor') THEN
        CREATE ROLE korvane_supervisor NOLOGIN;
    END IF;
END;
$roles$;
GRANT USAGE ON SCHEMA korvane TO korvane_station, korvane_supervisor;
GRANT SELECT ON korvane.claims, korvane.schema_info TO korvane_station;
GRANT EXECUTE ON FUNCTION korvane.claim_cpu_id(text, text, text, text, bigint, boolean),
    korvane.upload_record(date, text) TO korvane_station;
GRANT SELECT ON ALL TABLES IN SCHEMA korvane TO korvane_supervisor;
GRANT EXECUTE ON FUNCTION korvane.release_claim(text, text), korvane.upload_record(date, text)
    TO korvane_supervisor;
COMMIT;
)sql";

} // namespace

namespace LineSchema {

QString createSql()
{
    return QString::fromUtf8(createScript);
}

QString rolesSql()
{
    return QString::fromUtf8(rolesScript);
}

bool init(LineDatabase &database, bool roles, QStringList *done, QString *reason)
{
    QStringList ignoredDone;
    QString ignoredReason;
    if (!done)
        done = &ignoredDone;
    if (!reason)
        reason = &ignoredReason;
    if (!database.connect(reason, false))
        return false;

    // Station names and records must come back exactly as they were written.
    const LineDatabase::Result encoding = database.exec(
        QStringLiteral("SELECT pg_catalog.pg_encoding_to_char(encoding) FROM pg_catalog.pg_database"
                       " WHERE datname = current_database()"));
    if (!encoding.ok) {
        *reason = encoding.error;
        return false;
    }
    const QString encodingName = encoding.rows.value(0).value(0);
    if (encodingName != QLatin1String("UTF8")) {
        *reason = QStringLiteral("the database's encoding is %1, not UTF8").arg(encodingName);
        return false;
    }

    const LineDatabase::Result found = database.exec(QStringLiteral(
        "SELECT EXISTS (SELECT 1 FROM pg_catalog.pg_class c JOIN pg_catalog.pg_namespace n"
        " ON n.oid = c.relnamespace WHERE n.nspname = 'korvane' AND c.relname = 'schema_info')"));
    if (!found.ok) {
        *reason = found.error;
        return false;
    }
    int version = 0;
    if (found.rows.value(0).value(0) == QLatin1String("t")) {
        const LineDatabase::Result current
            = database.exec(QStringLiteral("SELECT max(version) FROM korvane.schema_info"));
        if (!current.ok) {
            *reason = current.error;
            return false;
        }
        version = current.rows.value(0).value(0).toInt();
    }
    if (version > LineDatabase::schemaVersion) {
        *reason = QStringLiteral("line database schema version %1 is newer than this program (%2)")
                      .arg(version)
                      .arg(LineDatabase::schemaVersion);
        return false;
    }
    if (version == LineDatabase::schemaVersion) {
        done->append(QStringLiteral("schema version %1 already there").arg(version));
    } else if (version > 0) {
        // No older version was ever released: nothing to upgrade from.
        *reason = QStringLiteral("line database schema version %1 is unknown").arg(version);
        return false;
    } else {
        const LineDatabase::Result created = database.execScript(createSql());
        if (!created.ok) {
            *reason = created.error;
            return false;
        }
        done->append(QStringLiteral("schema version %1 created").arg(LineDatabase::schemaVersion));
    }

    if (roles) {
        const LineDatabase::Result existing
            = database.exec(QStringLiteral("SELECT count(*) FROM pg_catalog.pg_roles WHERE rolname IN "
                                           "('korvane_station', 'korvane_supervisor')"));
        if (!existing.ok) {
            *reason = existing.error;
            return false;
        }
        const LineDatabase::Result granted = database.execScript(rolesSql());
        if (!granted.ok) {
            *reason = granted.error;
            return false;
        }
        done->append(existing.rows.value(0).value(0) == QLatin1String("2")
                ? QStringLiteral("roles korvane_station and korvane_supervisor already there, rights granted")
                : QStringLiteral("roles korvane_station and korvane_supervisor made, rights granted"));
    }
    return true;
}

} // namespace LineSchema
