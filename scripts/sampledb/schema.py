"""Tables of the sample pharmacy database, shared by all three dialects.

Column types are abstract here (see sqlwriter.py for what each becomes):
  INT, SMALLINT, BIGINT, ("VARCHAR", n), NUMERIC (15,2), DOUBLE, DATE, TIMESTAMP, TEXT.
"""

from dataclasses import dataclass, field
from typing import Optional, Union

ColType = Union[str, tuple]


@dataclass
class Column:
    name: str
    type: ColType
    nullable: bool = True
    # Referenced table (its ID column).
    ref: Optional[str] = None
    # A reference that only Firebird declares as a constraint (see EXPENSE_TYPE).
    ref_fb_only: bool = False


@dataclass
class Table:
    name: str
    columns: list
    # MySQL AUTO_INCREMENT on ID; in Firebird a generator <TABLE>_ID and an insert trigger.
    identity: bool = True
    # Document (transaction) table: MySQL and Firebird only, not in the packet's list.
    document: bool = False
    # Exists only in one dialect ("mysql" / "firebird").
    only: Optional[str] = None
    # No PRIMARY KEY/FOREIGN KEY (replica tables are plain copies).
    plain: bool = False

    def column_names(self):
        return [c.name for c in self.columns]


def V(n):
    return ("VARCHAR", n)


def C(name, type_, nullable=True, ref=None, ref_fb_only=False):
    return Column(name, type_, nullable, ref, ref_fb_only)


def ID():
    return Column("ID", "INT", False)


# The 37 nomenclature tables, in packet order: every table comes after the tables
# it references, so the reverse order empties them without key violations.
NOMENCLATURE = [
    Table("N_NZOK_GROUP", [ID(), C("CODE", V(10), False), C("NAME", V(100), False)]),
    Table("N_PRESCRIPTION_TYPE", [ID(), C("CODE", V(5), False), C("NAME", V(60), False),
                                  C("COLOR", "SMALLINT")]),
    Table("N_MEDICAL_ARTICLE_TYPE", [ID(), C("NAME", V(80), False)]),
    Table("N_PRODUCT_GROUP", [ID(), C("CODE", V(10), False), C("NAME", V(80), False)]),
    Table("N_DELIVERY_TYPE", [ID(), C("NAME", V(60), False)]),
    Table("N_INV_COR_TYPE", [ID(), C("NAME", V(60), False), C("COR_SIGN", "SMALLINT", False)]),
    Table("N_PATIENT_MATERNITY_TYPE", [ID(), C("NAME", V(60), False)]),
    Table("N_PRESCRIPTION_PART", [ID(), C("CODE", V(2), False), C("NAME", V(60), False)]),
    Table("N_PROTOCOL_TYPE", [ID(), C("NAME", V(80), False), C("VALID_MONTHS", "SMALLINT")]),
    Table("N_PAYMENT_TYPE", [ID(), C("NAME", V(40), False), C("IS_CASH", "SMALLINT", False)]),
    Table("N_SALE_TYPE", [ID(), C("NAME", V(60), False)]),
    Table("N_DRUG_TYPE", [ID(), C("CODE", V(5), False), C("NAME", V(60), False)]),
    Table("N_AD_PRICE_SOURCE", [ID(), C("NAME", V(60), False)]),
    Table("N_CERTIFICATE_DOC_TYPE", [ID(), C("NAME", V(60), False)]),
    Table("N_ISO_COUNTRY_CODE", [ID(), C("CODE", V(2), False), C("CODE3", V(3), False),
                                 C("NAME", V(60), False)], identity=False),
    Table("N_DOCTOR_SPECIALTY", [ID(), C("CODE", V(4), False), C("NAME", V(100), False)]),
    Table("N_ORDER_TYPE", [ID(), C("NAME", V(60), False)]),
    Table("PRODUCER", [ID(), C("NAME", V(100), False),
                       C("COUNTRY_ID", "INT", ref="N_ISO_COUNTRY_CODE"),
                       C("ADDRESS", V(200)), C("PHONE", V(30)), C("CREATED", "TIMESTAMP")]),
    Table("ARTICLE_GROUP", [ID(), C("CODE", V(10), False), C("NAME", V(80), False),
                            C("PRODUCT_GROUP_ID", "INT", ref="N_PRODUCT_GROUP")]),
    Table("SHELF", [ID(), C("CODE", V(10), False), C("NAME", V(40), False), C("PHARM_ID", "INT")]),
    Table("ARTICLE", [ID(), C("CODE", V(20), False), C("NAME", V(120), False),
                      C("LATIN_NAME", V(120)), C("BARCODE", "BIGINT"),
                      C("PRODUCER_ID", "INT", False, ref="PRODUCER"),
                      C("ARTICLE_GROUP_ID", "INT", False, ref="ARTICLE_GROUP"),
                      C("SHELF_ID", "INT", ref="SHELF"),
                      C("DRUG_TYPE_ID", "INT", ref="N_DRUG_TYPE"),
                      C("NZOK_GROUP_ID", "INT", ref="N_NZOK_GROUP"),
                      C("MEDICAL_ARTICLE_TYPE_ID", "INT", ref="N_MEDICAL_ARTICLE_TYPE"),
                      C("PRICE", "NUMERIC", False), C("VAT_PERCENT", "DOUBLE", False),
                      C("MIN_QTY", "SMALLINT"), C("IS_RX", "SMALLINT", False),
                      C("CREATED", "TIMESTAMP", False), C("LAST_PRICE_DATE", "DATE")]),
    Table("ARTICLE_NZOK", [ID(), C("ARTICLE_ID", "INT", False, ref="ARTICLE"),
                           C("NZOK_CODE", V(10), False), C("NZOK_PRICE", "NUMERIC", False),
                           C("PATIENT_PRICE", "NUMERIC"), C("VALID_FROM", "DATE", False),
                           C("VALID_TO", "DATE")]),
    Table("ARTICLE_INFO", [ID(), C("ARTICLE_ID", "INT", False, ref="ARTICLE"),
                           C("DOSAGE", V(200)), C("DESCRIPTION", "TEXT")]),
    Table("SUPPLIER", [ID(), C("NAME", V(100), False), C("BULSTAT", V(13), False),
                       C("VAT_NUMBER", V(15)), C("CITY", V(40)), C("ADDRESS", V(200)),
                       C("PHONE", V(30)), C("EMAIL", V(60)), C("CREDIT_LIMIT", "NUMERIC")]),
    Table("SUPPLIER_CODE", [ID(), C("SUPPLIER_ID", "INT", False, ref="SUPPLIER"),
                            C("ARTICLE_ID", "INT", False, ref="ARTICLE"),
                            C("CODE", V(30), False)]),
    Table("ARTICLE_SUPPLIER", [ID(), C("ARTICLE_ID", "INT", False, ref="ARTICLE"),
                               C("SUPPLIER_ID", "INT", False, ref="SUPPLIER"),
                               C("LAST_PRICE", "NUMERIC"), C("LAST_DELIVERY", "TIMESTAMP"),
                               C("IS_PREFERRED", "SMALLINT", False)]),
    Table("PARCEL", [ID(), C("ARTICLE_ID", "INT", False, ref="ARTICLE"),
                     C("SUPPLIER_ID", "INT", ref="SUPPLIER"), C("LOT_NUMBER", V(20)),
                     C("EXPIRY_DATE", "DATE"), C("QUANTITY", "DOUBLE", False),
                     C("DELIVERY_PRICE", "NUMERIC", False), C("SALE_PRICE", "NUMERIC", False),
                     C("CERTIFICATE", V(40)), C("PHARM_ID", "INT"),
                     C("CREATED", "TIMESTAMP", False)]),
    # InnoDB checks a self-reference row by row, so "DELETE FROM EXPENSE_TYPE" would
    # fail on the first parent; only Firebird declares it (its cleanup deletes the
    # children first).
    Table("EXPENSE_TYPE", [ID(), C("PARENT_ID", "INT", ref="EXPENSE_TYPE", ref_fb_only=True),
                           C("NAME", V(60), False)]),
    Table("CUSTOMER", [ID(), C("NAME", V(100), False), C("BULSTAT", V(13)), C("CITY", V(40)),
                       C("ADDRESS", V(200)), C("DISCOUNT_PERCENT", "DOUBLE"),
                       C("PAYMENT_TYPE_ID", "INT", ref="N_PAYMENT_TYPE"), C("PHARM_ID", "INT"),
                       C("NOTE", V(200))]),
    Table("MEASURE_NAME", [ID(), C("NAME", V(20), False), C("SHORT_NAME", V(10), False)]),
    Table("MEASURE", [ID(), C("ARTICLE_ID", "INT", False, ref="ARTICLE"),
                      C("MEASURE_NAME_ID", "INT", False, ref="MEASURE_NAME"),
                      C("QUANTITY_IN_PACK", "DOUBLE", False), C("IS_DEFAULT", "SMALLINT", False)]),
    Table("PATIENT", [ID(), C("EGN", V(10)), C("FIRST_NAME", V(30), False), C("MIDDLE_NAME", V(30)),
                      C("LAST_NAME", V(30), False), C("BIRTH_DATE", "DATE"), C("GENDER", V(1)),
                      C("MATERNITY_TYPE_ID", "INT", ref="N_PATIENT_MATERNITY_TYPE"),
                      C("PHONE", V(30))]),
    Table("PATIENT_PROTOCOL", [ID(), C("PATIENT_ID", "INT", False, ref="PATIENT"),
                               C("PROTOCOL_TYPE_ID", "INT", False, ref="N_PROTOCOL_TYPE"),
                               C("PROTOCOL_NUMBER", V(20), False), C("ISSUE_DATE", "DATE", False),
                               C("VALID_TO", "DATE"), C("NOTE", V(200))]),
    Table("DOCTOR", [ID(), C("UIN", V(10), False), C("NAME", V(100), False),
                     C("SPECIALTY_ID", "INT", ref="N_DOCTOR_SPECIALTY"), C("RZI_CODE", V(4)),
                     C("PHONE", V(30))]),
    Table("RZOK", [ID(), C("CODE", V(2), False), C("NAME", V(60), False),
                   C("CONTRACT_NUMBER", V(20))]),
    Table("VTR_ENV_VARS", [ID(), C("VAR_NAME", V(40), False), C("VAR_VALUE", V(250)),
                           C("VAR_INT", "INT")], identity=False),
    Table("SUBSTITUDE_ARTICLE", [ID(), C("ARTICLE_ID", "INT", False, ref="ARTICLE"),
                                 C("SUBSTITUDE_ID", "INT", False, ref="ARTICLE"),
                                 C("NOTE", V(100))]),
]

COMPANY_DATA = Table("COMPANY_DATA", [ID(), C("COMPANY_NAME", V(100)), C("VER_MAJOR", "INT"),
                                      C("VER_MINOR", "INT"), C("VER_RELEASE", "INT"),
                                      C("VER_BUILD", "INT")], identity=False)


def D(name, columns):
    return Table(name, [ID()] + columns, document=True)


# The document tables in the order the installer empties them: every table that
# references another document table comes before it.
DOCUMENTS = [
    D("DENIAL", [C("ARTICLE_ID", "INT", False, ref="ARTICLE"), C("DENIAL_DATE", "TIMESTAMP", False),
                 C("QUANTITY", "DOUBLE", False), C("NOTE", V(100))]),
    D("CONSIGN_REPORT", [C("SUPPLIER_ID", "INT", False, ref="SUPPLIER"),
                         C("REPORT_DATE", "DATE", False), C("TOTAL", "NUMERIC")]),
    D("PRESCRIPTION_ITEM", [C("PRESCRIPTION_ID", "INT", False, ref="PRESCRIPTION"),
                            C("ARTICLE_ID", "INT", False, ref="ARTICLE"),
                            C("QUANTITY", "DOUBLE", False)]),
    D("PRESCRIPTION", [C("PATIENT_ID", "INT", ref="PATIENT"), C("DOCTOR_ID", "INT", ref="DOCTOR"),
                       C("PRESCRIPTION_TYPE_ID", "INT", ref="N_PRESCRIPTION_TYPE"),
                       C("DOC_NUMBER", V(20), False), C("ISSUE_DATE", "DATE", False)]),
    D("SALE_COR_ITEM", [C("SALE_COR_ID", "INT", False, ref="SALE_COR"),
                        C("SALE_ITEM_ID", "INT", ref="SALE_ITEM"), C("QUANTITY", "DOUBLE", False)]),
    D("SALE_COR", [C("SALE_ID", "INT", False, ref="SALE"), C("COR_DATE", "TIMESTAMP", False),
                   C("REASON", V(100))]),
    D("SALE_PAYMENT", [C("SALE_ID", "INT", False, ref="SALE"),
                       C("PAYMENT_TYPE_ID", "INT", False, ref="N_PAYMENT_TYPE"),
                       C("AMOUNT", "NUMERIC", False)]),
    D("SALE_ITEM", [C("SALE_ID", "INT", False, ref="SALE"), C("ARTICLE_ID", "INT", False, ref="ARTICLE"),
                    C("PARCEL_ID", "INT", ref="PARCEL"), C("QUANTITY", "DOUBLE", False),
                    C("PRICE", "NUMERIC", False)]),
    # PRESCRIPTION is emptied before this table, so the link stays a plain number.
    D("PRESCRIPTION_SALE", [C("PRESCRIPTION_ID", "INT"), C("SALE_ID", "INT", False, ref="SALE"),
                            C("NZOK_AMOUNT", "NUMERIC")]),
    D("SALE", [C("SALE_DATE", "TIMESTAMP", False), C("CUSTOMER_ID", "INT", ref="CUSTOMER"),
               C("SALE_TYPE_ID", "INT", ref="N_SALE_TYPE"), C("TOTAL", "NUMERIC", False)]),
    D("DRUG_SALE", [C("ARTICLE_ID", "INT", False, ref="ARTICLE"), C("SALE_DATE", "DATE", False),
                    C("QUANTITY", "DOUBLE", False)]),
    D("PAYMENT", [C("SUPPLIER_ID", "INT", False, ref="SUPPLIER"), C("PAYMENT_DATE", "DATE", False),
                  C("AMOUNT", "NUMERIC", False), C("NOTE", V(100))]),
    D("INVENTORY_FULL_INFO", [C("ARTICLE_ID", "INT", False, ref="ARTICLE"),
                              C("PARCEL_ID", "INT", ref="PARCEL"), C("INV_DATE", "DATE", False),
                              C("QUANTITY", "DOUBLE", False)]),
    D("SALE_PRICE_COR_ITEM", [C("SALE_PRICE_COR_ID", "INT", False, ref="SALE_PRICE_COR"),
                              C("ARTICLE_ID", "INT", False, ref="ARTICLE"),
                              C("OLD_PRICE", "NUMERIC", False), C("NEW_PRICE", "NUMERIC", False)]),
    D("SALE_PRICE_COR", [C("COR_DATE", "TIMESTAMP", False), C("NOTE", V(100))]),
    D("INV_COR_ITEM", [C("INV_COR_ID", "INT", False, ref="INV_COR"),
                       C("PARCEL_ID", "INT", False, ref="PARCEL"), C("QUANTITY", "DOUBLE", False)]),
    D("INV_COR", [C("INV_COR_TYPE_ID", "INT", False, ref="N_INV_COR_TYPE"),
                  C("COR_DATE", "DATE", False), C("NOTE", V(100))]),
    D("DELIVERY_ORDER_ITEM", [C("DELIVERY_ORDER_ID", "INT", False, ref="DELIVERY_ORDER"),
                              C("ARTICLE_ID", "INT", False, ref="ARTICLE"),
                              C("QUANTITY", "DOUBLE", False)]),
    D("DELIVERY_ORDER", [C("SUPPLIER_ID", "INT", False, ref="SUPPLIER"),
                         C("ORDER_TYPE_ID", "INT", ref="N_ORDER_TYPE"),
                         C("ORDER_DATE", "DATE", False)]),
    D("DELIVERY_ITEM", [C("DELIVERY_ID", "INT", False, ref="DELIVERY"),
                        C("PARCEL_ID", "INT", False, ref="PARCEL"), C("QUANTITY", "DOUBLE", False),
                        C("PRICE", "NUMERIC", False)]),
    D("DELIVERY", [C("SUPPLIER_ID", "INT", False, ref="SUPPLIER"),
                   C("DELIVERY_TYPE_ID", "INT", ref="N_DELIVERY_TYPE"), C("DOC_NUMBER", V(20), False),
                   C("DELIVERY_DATE", "DATE", False), C("TOTAL", "NUMERIC")]),
    # PARCEL (22nd) is a nomenclature table as well; it is not repeated here.
    D("EXPENSE", [C("EXPENSE_TYPE_ID", "INT", False, ref="EXPENSE_TYPE"),
                  C("EXPENSE_DATE", "DATE", False), C("AMOUNT", "NUMERIC", False), C("NOTE", V(100))]),
    D("RZOK_COR_INVOICE", [C("RZOK_INVOICE_ID", "INT", False, ref="RZOK_INVOICE"),
                           C("AMOUNT", "NUMERIC", False)]),
    D("RZOK_INVOICE", [C("RZOK_ID", "INT", False, ref="RZOK"), C("INVOICE_NUMBER", V(20), False),
                       C("PERIOD_FROM", "DATE", False), C("PERIOD_TO", "DATE", False),
                       C("TOTAL", "NUMERIC")]),
    D("DELETED_ITEM", [C("DOC_TABLE", V(40), False), C("ITEM_ID", "INT", False),
                       C("DELETED_AT", "TIMESTAMP", False)]),
]

# The installer's list of the 26 document tables, PARCEL included.
DOCUMENT_CLEANUP_ORDER = [
    "DENIAL", "CONSIGN_REPORT", "PRESCRIPTION_ITEM", "PRESCRIPTION", "SALE_COR_ITEM", "SALE_COR",
    "SALE_PAYMENT", "SALE_ITEM", "PRESCRIPTION_SALE", "SALE", "DRUG_SALE", "PAYMENT",
    "INVENTORY_FULL_INFO", "SALE_PRICE_COR_ITEM", "SALE_PRICE_COR", "INV_COR_ITEM", "INV_COR",
    "DELIVERY_ORDER_ITEM", "DELIVERY_ORDER", "DELIVERY_ITEM", "DELIVERY", "PARCEL", "EXPENSE",
    "RZOK_COR_INVOICE", "RZOK_INVOICE", "DELETED_ITEM",
]

# Site replica tables (name ends in "_" and digits) and a look-alike that is not one.
REPLICAS = [
    Table("SALE_12", [ID(), C("SALE_DATE", "TIMESTAMP"), C("TOTAL", "NUMERIC"), C("PHARM_ID", "INT")],
          identity=False, only="mysql", plain=True),
    Table("STOCK_3", [ID(), C("ARTICLE_ID", "INT"), C("QUANTITY", "DOUBLE"), C("PHARM_ID", "INT")],
          identity=False, only="mysql", plain=True),
    Table("STOCK_12A", [ID(), C("ARTICLE_ID", "INT"), C("QUANTITY", "DOUBLE"), C("PHARM_ID", "INT")],
          identity=False, only="mysql"),
]

ARTICLE_CENTRAL_LOCK = Table("ARTICLE_CENTRAL_LOCK",
                             [ID(), C("ARTICLE_ID", "INT", False, ref="ARTICLE"),
                              C("LOCKED_AT", "TIMESTAMP", False), C("LOCKED_BY", V(30))],
                             only="firebird")


def tables_for(dialect):
    """Every table of the dialect's database, in creation order (parents first)."""
    result = list(NOMENCLATURE) + [COMPANY_DATA]
    if dialect in ("mysql", "firebird"):
        # Created parents first: the reverse of the cleanup order, except PARCEL,
        # which the nomenclature already holds.
        by_name = {t.name: t for t in DOCUMENTS}
        result += [by_name[n] for n in reversed(DOCUMENT_CLEANUP_ORDER) if n in by_name]
        result += [t for t in REPLICAS + [ARTICLE_CENTRAL_LOCK] if t.only == dialect]
    return result


def check_order():
    """The generator relies on parents preceding children in tables_for()."""
    for dialect in ("mysql", "firebird", "sqlite"):
        seen = set()
        for t in tables_for(dialect):
            for c in t.columns:
                if c.ref and c.ref != t.name and c.ref not in seen:
                    raise AssertionError(f"{t.name}.{c.name} references {c.ref} created later")
            seen.add(t.name)
    position = {n: i for i, n in enumerate(DOCUMENT_CLEANUP_ORDER)}
    for t in DOCUMENTS:
        for c in t.columns:
            if c.ref in position and position[c.ref] < position[t.name]:
                raise AssertionError(f"{t.name} is emptied after its parent {c.ref}")
    nomen = {t.name: i for i, t in enumerate(NOMENCLATURE)}
    for t in NOMENCLATURE:
        for c in t.columns:
            if c.ref and c.ref != t.name and nomen[c.ref] > nomen[t.name]:
                raise AssertionError(f"{t.name} is listed before its parent {c.ref}")
            if c.ref == "PARCEL":
                raise AssertionError("PARCEL is emptied with the documents; nothing may reference it")
    assert len(NOMENCLATURE) == 37 and len(DOCUMENT_CLEANUP_ORDER) == 26
