"""Writes the sample database as an SQL script for MySQL/MariaDB, Firebird or SQLite."""

import datetime as dt
import re
from decimal import Decimal

import schema

FB_USER = "SYSDBA"
FB_PASSWORD = "pondglass"

TYPES = {
    "mysql": {"INT": "INT", "SMALLINT": "SMALLINT", "BIGINT": "BIGINT", "NUMERIC": "DECIMAL(15,2)",
              "DOUBLE": "DOUBLE", "DATE": "DATE", "TIMESTAMP": "DATETIME", "TEXT": "TEXT"},
    "firebird": {"INT": "INTEGER", "SMALLINT": "SMALLINT", "BIGINT": "BIGINT", "NUMERIC": "NUMERIC(15,2)",
                 "DOUBLE": "DOUBLE PRECISION", "DATE": "DATE", "TIMESTAMP": "TIMESTAMP",
                 "TEXT": "BLOB SUB_TYPE TEXT"},
    "sqlite": {"INT": "INTEGER", "SMALLINT": "SMALLINT", "BIGINT": "BIGINT", "NUMERIC": "NUMERIC(15,2)",
               "DOUBLE": "DOUBLE PRECISION", "DATE": "DATE", "TIMESTAMP": "TIMESTAMP", "TEXT": "TEXT"},
}

# Rows per INSERT statement.
BATCH = {"mysql": 1000, "sqlite": 500}
FB_BLOCK_BYTES = 60000
FB_BLOCK_ROWS = 200

LIMITS = {"INT": 2 ** 31, "SMALLINT": 2 ** 15, "BIGINT": 2 ** 63}


def type_sql(dialect, t):
    if isinstance(t, tuple):
        return f"VARCHAR({t[1]})"
    return TYPES[dialect][t]


def check_value(table, col, v):
    """Fails on a value the column cannot hold, before any server sees it."""
    where = f"{table.name}.{col.name}"
    if v is None:
        assert col.nullable, f"{where}: NULL in a NOT NULL column"
        return
    t = col.type
    if isinstance(t, tuple) or t == "TEXT":
        assert isinstance(v, str), f"{where}: {v!r} is not text"
        v.encode("cp1251")  # raises for a character outside Windows-1251
        if isinstance(t, tuple):
            assert len(v) <= t[1], f"{where}: {v!r} is longer than {t[1]}"
    elif t in LIMITS:
        assert isinstance(v, int) and -LIMITS[t] <= v < LIMITS[t], f"{where}: {v!r} out of range"
    elif t == "NUMERIC":
        assert isinstance(v, Decimal) and v.as_tuple().exponent == -2 and abs(v) < 10 ** 13, f"{where}: {v!r}"
    elif t == "DOUBLE":
        assert isinstance(v, float), f"{where}: {v!r} is not a float"
    elif t == "DATE":
        assert type(v) is dt.date, f"{where}: {v!r} is not a date"
    elif t == "TIMESTAMP":
        assert isinstance(v, dt.datetime) and v.microsecond == 0, f"{where}: {v!r}"


def concat_text(parts, dialect):
    """Joins literal pieces and CR/LF characters: a raw line break inside a literal is
    not something every command-line client passes through unchanged."""
    chars = {"\r": 13, "\n": 10}
    out = []
    for p in parts:
        if p in chars:
            out.append(f"ASCII_CHAR({chars[p]})" if dialect == "firebird" else f"char({chars[p]})")
        elif p:
            out.append("'" + p.replace("'", "''") + "'")
    return " || ".join(out) if out else "''"


def literal(dialect, v):
    if v is None:
        return "NULL"
    if isinstance(v, bool):
        raise TypeError("no booleans in the sample")
    if isinstance(v, int):
        return str(v)
    if isinstance(v, Decimal):
        return str(v)
    if isinstance(v, float):
        return repr(v)
    if isinstance(v, dt.datetime):
        return "'" + v.strftime("%Y-%m-%d %H:%M:%S") + "'"
    if isinstance(v, dt.date):
        return f"'{v.year:04d}-{v.month:02d}-{v.day:02d}'"
    if isinstance(v, str):
        if dialect == "mysql":
            return "'" + (v.replace("\\", "\\\\").replace("'", "''")
                          .replace("\r", "\\r").replace("\n", "\\n")) + "'"
        if "\r" in v or "\n" in v:
            return concat_text(re.split(r"(\r|\n)", v), dialect)
        return "'" + v.replace("'", "''") + "'"
    raise TypeError(repr(v))


def fk_constraints(dialect, table):
    """(constraint name, column, referenced table) of the table's declared references."""
    out = []
    for k, c in enumerate(table.columns):
        if not c.ref or (c.ref_fb_only and dialect != "firebird"):
            continue
        # Firebird names are at most 31 characters long.
        name = f"FK_{table.name[:22]}_{k}" if dialect == "firebird" else f"FK_{table.name}_{c.name}"
        out.append((name, c.name, c.ref))
    return out


def create_table(dialect, table):
    lines = []
    for c in table.columns:
        line = f"  {c.name} {type_sql(dialect, c.type)}"
        if not c.nullable:
            line += " NOT NULL"
        if dialect == "mysql" and c.name == "ID" and table.identity:
            line += " AUTO_INCREMENT"
        lines.append(line)
    if dialect == "firebird":
        lines.append(f"  CONSTRAINT PK_{table.name} PRIMARY KEY (ID)")
    else:
        lines.append("  PRIMARY KEY (ID)")
    for name, col, ref in fk_constraints(dialect, table):
        lines.append(f"  CONSTRAINT {name} FOREIGN KEY ({col}) REFERENCES {ref} (ID)")
    tail = " ENGINE=InnoDB DEFAULT CHARSET=cp1251" if dialect == "mysql" else ""
    name = f"`{table.name}`" if dialect == "mysql" else table.name
    return f"CREATE TABLE {name} (\n" + ",\n".join(lines) + f"\n){tail};\n"


def inserts(dialect, table, rows):
    cols = ", ".join(table.column_names())
    name = f"`{table.name}`" if dialect == "mysql" else table.name
    for row in rows:
        for c, v in zip(table.columns, row):
            check_value(table, c, v)
    if dialect == "firebird":
        # Firebird has no multi-row VALUES; an EXECUTE BLOCK carries many inserts in one
        # statement (at most 64 KB of text, and one context per insert out of 255).
        block, size = [], 0
        for row in rows:
            stmt = f"  INSERT INTO {name} ({cols}) VALUES ({', '.join(literal(dialect, v) for v in row)});\n"
            n = len(stmt.encode("utf-8"))
            if block and (size + n > FB_BLOCK_BYTES or len(block) >= FB_BLOCK_ROWS):
                yield "EXECUTE BLOCK AS\nBEGIN\n" + "".join(block) + "END^\n"
                block, size = [], 0
            block.append(stmt)
            size += n
        if block:
            yield "EXECUTE BLOCK AS\nBEGIN\n" + "".join(block) + "END^\n"
        return
    n = BATCH[dialect]
    for start in range(0, len(rows), n):
        values = ",\n".join("(" + ", ".join(literal(dialect, v) for v in row) + ")" for row in rows[start:start + n])
        yield f"INSERT INTO {name} ({cols}) VALUES\n{values};\n"


def fb_cleanup_procedure():
    body = "".join(f"  DELETE FROM {t};\n" for t in schema.DOCUMENT_CLEANUP_ORDER)
    return ("SET TERM ^ ;\n"
            "/* Empties the document tables, children first, so that the nomenclature\n"
            "   can be deleted afterwards. */\n"
            "CREATE PROCEDURE SP_CLEANUP_DB\nAS\nBEGIN\n" + body + "END^\nSET TERM ; ^\n")


def fb_identity(table):
    return (f"CREATE TRIGGER BI_{table.name} FOR {table.name} ACTIVE BEFORE INSERT POSITION 0\nAS\nBEGIN\n"
            f"  IF (NEW.ID IS NULL) THEN NEW.ID = GEN_ID({table.name}_ID, 1);\nEND^\n")


def write(out, dialect, target, rows, comment):
    tables = schema.tables_for(dialect)
    names = [n for t in tables for n, _, _ in fk_constraints(dialect, t)]
    assert len(names) == len(set(names)), "constraint names collide"
    w = out.write
    w(f"-- {comment}\n")
    if dialect == "mysql":
        w("SET NAMES utf8mb4;\n")
        w(f"DROP DATABASE IF EXISTS `{target}`;\n")
        w(f"CREATE DATABASE `{target}` CHARACTER SET cp1251 COLLATE cp1251_general_ci;\n")
        w(f"USE `{target}`;\n")
    elif dialect == "firebird":
        w("SET SQL DIALECT 3;\nSET NAMES UTF8;\n")
        w(f"CREATE DATABASE '127.0.0.1:{target}' USER '{FB_USER}' PASSWORD '{FB_PASSWORD}' "
          "PAGE_SIZE 8192 DEFAULT CHARACTER SET WIN1251;\n")
    else:
        w("PRAGMA journal_mode = OFF;\nPRAGMA synchronous = OFF;\n")

    for t in tables:
        w(create_table(dialect, t))
        if dialect == "firebird" and t.identity:
            w(f"CREATE GENERATOR {t.name}_ID;\n")
    w("COMMIT;\nSET TERM ^ ;\n" if dialect == "firebird" else "BEGIN;\n" if dialect == "sqlite"
      else "SET autocommit = 0;\n")

    for t in tables:
        for stmt in inserts(dialect, t, rows.get(t.name, [])):
            w(stmt)
    w("SET TERM ; ^\nCOMMIT;\n" if dialect == "firebird" else "COMMIT;\n")

    if dialect == "firebird":
        for t in tables:
            if t.identity:
                top = max((r[0] for r in rows.get(t.name, [])), default=0)
                w(f"SET GENERATOR {t.name}_ID TO {top};\n")
        w("COMMIT;\nSET TERM ^ ;\n")
        for t in tables:
            if t.identity:
                w(fb_identity(t))
        w("SET TERM ; ^\n")
        w(fb_cleanup_procedure())
        w("COMMIT;\n")
