"""Deterministic rows of the sample pharmacy database.

Two roles: "source" (the pharmacy whose nomenclature is exported) and "target"
(another pharmacy, smaller, whose nomenclature an installation replaces). Every
table draws from its own random generator seeded by role and table name, so the
same command always yields the same rows. No current dates are used.
"""

import datetime as dt
import random
from decimal import Decimal

import schema
import words as W

# Rows per table: (base, growth per scale step) for each role. With --scale N a table
# holds base + (N - 1) * growth rows, so N = 1 is the normal sample.
COUNTS = {
    #                          source       target
    "N_NZOK_GROUP":             ((8, 0),     (3, 0)),
    "N_PRESCRIPTION_TYPE":      ((5, 0),     (3, 0)),
    "N_MEDICAL_ARTICLE_TYPE":   ((6, 0),     (2, 0)),
    "N_PRODUCT_GROUP":          ((10, 0),    (4, 0)),
    "N_DELIVERY_TYPE":          ((4, 0),     (2, 0)),
    "N_INV_COR_TYPE":           ((4, 0),     (2, 0)),
    "N_PATIENT_MATERNITY_TYPE": ((3, 0),     (1, 0)),
    "N_PRESCRIPTION_PART":      ((4, 0),     (2, 0)),
    "N_PROTOCOL_TYPE":          ((3, 0),     (1, 0)),
    "N_PAYMENT_TYPE":           ((5, 0),     (2, 0)),
    "N_SALE_TYPE":              ((4, 0),     (2, 0)),
    "N_DRUG_TYPE":              ((7, 0),     (3, 0)),
    "N_AD_PRICE_SOURCE":        ((0, 0),     (2, 0)),
    "N_CERTIFICATE_DOC_TYPE":   ((3, 0),     (1, 0)),
    "N_ISO_COUNTRY_CODE":       ((25, 0),    (5, 0)),
    "N_DOCTOR_SPECIALTY":       ((12, 0),    (4, 0)),
    "N_ORDER_TYPE":             ((0, 0),     (2, 0)),
    "PRODUCER":                 ((100, 100), (20, 25)),
    "ARTICLE_GROUP":            ((20, 0),    (5, 0)),
    "SHELF":                    ((15, 0),    (4, 0)),
    "ARTICLE":                  ((120, 1000), (40, 250)),
    "ARTICLE_NZOK":             ((30, 100),  (8, 25)),
    "ARTICLE_INFO":             ((30, 300),  (10, 75)),
    "SUPPLIER":                 ((50, 20),   (10, 5)),
    "SUPPLIER_CODE":            ((30, 300),  (10, 75)),
    "ARTICLE_SUPPLIER":         ((30, 600),  (12, 150)),
    "PARCEL":                   ((30, 800),  (15, 200)),
    "EXPENSE_TYPE":             ((12, 0),    (4, 0)),
    "CUSTOMER":                 ((25, 100),  (6, 25)),
    "MEASURE_NAME":             ((8, 0),     (3, 0)),
    "MEASURE":                  ((30, 200),  (10, 50)),
    "PATIENT":                  ((30, 150),  (8, 40)),
    "PATIENT_PROTOCOL":         ((20, 150),  (5, 40)),
    "DOCTOR":                   ((30, 50),   (6, 12)),
    "RZOK":                     ((28, 0),    (1, 0)),
    "VTR_ENV_VARS":             ((10, 0),    (6, 0)),
    "SUBSTITUDE_ARTICLE":       ((30, 200),  (8, 50)),
}

# Tables of the target whose identifiers start high, so that a test sees both that
# the old rows are gone and that the identity counter moved down to the loaded data.
TARGET_ID_OFFSET = 9000
TARGET_OFFSET_TABLES = {"PRODUCER", "ARTICLE", "SUPPLIER", "PARCEL", "CUSTOMER", "PATIENT", "DOCTOR",
                        "ARTICLE_NZOK", "ARTICLE_INFO", "SUPPLIER_CODE", "ARTICLE_SUPPLIER", "MEASURE",
                        "PATIENT_PROTOCOL", "SUBSTITUDE_ARTICLE"}

VERSION = {"source": (2, 1, 0, 15), "target": (2, 1, 0, 11)}
PHARMACY = {"source": ("Аптека \"Здраве\" ЕООД", 17), "target": ("Аптека \"Липа\" ООД", 42)}

EPOCH = dt.datetime(2021, 1, 4, 8, 0, 0)


def row_counts(role, scale):
    counts = {}
    for table, per_role in COUNTS.items():
        base, grow = per_role[0 if role == "source" else 1]
        counts[table] = base + (scale - 1) * grow
    return counts


class Ctx:
    def __init__(self, role, scale):
        self.role = role
        self.scale = scale
        self.counts = row_counts(role, scale)
        self.ids = {}
        self.pharm_name, self.pharm_id = PHARMACY[role]

    def rng(self, table):
        # A str seed is hashed with SHA-512: stable across runs and Python versions.
        return random.Random(f"nompack-sample:{self.role}:{table}")

    def new_ids(self, table, n=None):
        n = self.counts[table] if n is None else n
        first = TARGET_ID_OFFSET if self.role == "target" and table in TARGET_OFFSET_TABLES else 0
        self.ids[table] = [first + i for i in range(1, n + 1)]
        return self.ids[table]

    @property
    def source(self):
        return self.role == "source"


def money(r, lo, hi):
    return Decimal(r.randint(int(lo * 100), int(hi * 100))).scaleb(-2)


def day(r, start, span_days):
    return start + dt.timedelta(days=r.randrange(span_days))


def stamp(r, span_days=900):
    # Whole seconds: the milliseconds are always 0.
    return EPOCH + dt.timedelta(days=r.randrange(span_days), seconds=r.randrange(10 * 3600))


def maybe(r, p_null, value):
    return None if r.random() < p_null else value


def person(r):
    if r.random() < 0.5:
        return r.choice(W.MALE_FIRST), r.choice(W.PATRONYMS), r.choice(W.SURNAMES), "М"
    return r.choice(W.FEMALE_FIRST), r.choice(W.PATRONYMS) + "а", r.choice(W.SURNAMES) + "а", "Ж"


def phone(r):
    return f"0{r.randint(2, 98)} {r.randint(100, 999)} {r.randint(100, 999)}"


def fixed(ctx, table, rows):
    """A lookup table: the first rows of a fixed list, IDs 1..n."""
    n = ctx.counts[table]
    if ctx.role == "target":
        # Another pharmacy keeps older wording for the same codes.
        rows = [tuple(v + " (стар)" if isinstance(v, str) and k == len(row) - 1 else v
                      for k, v in enumerate(row)) for row in rows]
    assert n <= len(rows), f"{table}: only {len(rows)} fixed rows"
    ids = ctx.new_ids(table)
    return [(i,) + tuple(row) for i, row in zip(ids, rows[:n])]


# ------------------------------------------------------------------ lookup tables

def n_tables(ctx):
    out = {}
    out["N_NZOK_GROUP"] = fixed(ctx, "N_NZOK_GROUP", [
        ("A01", "Антиациди"), ("B01", "Антитромботични средства"), ("C07", "Бета-блокери"),
        ("C09", "Средства, действащи върху ренин-ангиотензиновата система"),
        ("A10", "Лекарства, използвани при диабет"), ("N03", "Антиепилептични средства"),
        ("R03", "Лекарства за обструктивни заболявания на дихателните пътища"),
        ("H03", "Тиреоидна терапия")])
    out["N_PRESCRIPTION_TYPE"] = fixed(ctx, "N_PRESCRIPTION_TYPE", [
        ("5", "Бяла рецепта", None), ("5А", "Рецепта НЗОК (образец 5)", 1), ("5Б", "Военноинвалиди", 2),
        ("ЗЕЛ", "Зелена рецепта", 3), ("ЖЪЛ", "Жълта рецепта", 4)])
    out["N_MEDICAL_ARTICLE_TYPE"] = fixed(ctx, "N_MEDICAL_ARTICLE_TYPE", [
        ("Лекарствен продукт",), ("Медицинско изделие",), ("Хранителна добавка",), ("Козметика",),
        ("Диетична храна",), ("Превързочен материал",)])
    out["N_PRODUCT_GROUP"] = fixed(ctx, "N_PRODUCT_GROUP", [
        ("RX", "Лекарства по рецепта"), ("OTC", "Без рецепта"), ("MED", "Медицински изделия"),
        ("KOZ", "Козметика"), ("DET", "Детски храни"), ("BIO", "Билки и чайове"),
        ("VIT", "Витамини"), ("ORT", "Ортопедия"), ("HIG", "Хигиена"), ("DRU", "Други")])
    out["N_DELIVERY_TYPE"] = fixed(ctx, "N_DELIVERY_TYPE", [
        ("Фактура",), ("Стокова разписка",), ("Консигнация",), ("Връщане от клиент",)])
    out["N_INV_COR_TYPE"] = fixed(ctx, "N_INV_COR_TYPE", [
        ("Излишък", 1), ("Липса", -1), ("Брак", -1), ("Изтекъл срок", -1)])
    out["N_PATIENT_MATERNITY_TYPE"] = fixed(ctx, "N_PATIENT_MATERNITY_TYPE", [
        ("Бременна",), ("Кърмачка",), ("Родилка",)])
    out["N_PRESCRIPTION_PART"] = fixed(ctx, "N_PRESCRIPTION_PART", [
        ("A", "Отрязък А"), ("B", "Отрязък Б"), ("C", "Отрязък В"), ("D", "Отрязък Г")])
    out["N_PROTOCOL_TYPE"] = fixed(ctx, "N_PROTOCOL_TYPE", [
        ("Протокол 1А", 6), ("Протокол 1Б", 12), ("Протокол 1В (специализирана комисия)", None)])
    out["N_PAYMENT_TYPE"] = fixed(ctx, "N_PAYMENT_TYPE", [
        ("В брой", 1), ("Банкова карта", 0), ("По сметка", 0), ("Ваучер", 0), ("НЗОК", 0)])
    out["N_SALE_TYPE"] = fixed(ctx, "N_SALE_TYPE", [
        ("Продажба на дребно",), ("Продажба на едро",), ("Рецепта НЗОК",), ("Вътрешна употреба",)])
    out["N_DRUG_TYPE"] = fixed(ctx, "N_DRUG_TYPE", [
        ("RX", "По лекарско предписание"), ("OTC", "Без лекарско предписание"),
        ("NARK", "Наркотично (Списък I)"), ("PSY", "Психотропно"), ("HOM", "Хомеопатично"),
        ("MAG", "Магистрално"), ("BIO", "Биологично")])
    out["N_AD_PRICE_SOURCE"] = fixed(ctx, "N_AD_PRICE_SOURCE", [
        ("Позитивен лекарствен списък",), ("Ценови регистър",)])
    out["N_CERTIFICATE_DOC_TYPE"] = fixed(ctx, "N_CERTIFICATE_DOC_TYPE", [
        ("Сертификат за качество",), ("Декларация за съответствие",), ("Анализен лист",)])
    out["N_ISO_COUNTRY_CODE"] = fixed(ctx, "N_ISO_COUNTRY_CODE", W.COUNTRIES)
    out["N_DOCTOR_SPECIALTY"] = fixed(ctx, "N_DOCTOR_SPECIALTY", W.SPECIALTIES)
    out["N_ORDER_TYPE"] = fixed(ctx, "N_ORDER_TYPE", [("Редовна",), ("Спешна",)])
    return out


# ------------------------------------------------------------------ nomenclature

def producer(ctx):
    r = ctx.rng("PRODUCER")
    special = ["Джонсън & Джонсън ЕООД", "Д'Агостино Фарма ООД", "Фармацевтичен завод \"Милве\" АД",
               "Лаборатория <Здраве> ЕООД", "Натурфарм", "Хербал \"Планина\" ООД"]
    rows = []
    for n, i in enumerate(ctx.new_ids("PRODUCER")):
        if ctx.source and n < len(special):
            name = special[n]
        else:
            base = W.PRODUCER_BASES[n % len(W.PRODUCER_BASES)]
            name = f"{base} {W.LEGAL[(n // len(W.PRODUCER_BASES)) % len(W.LEGAL)]}"
            if n >= len(W.PRODUCER_BASES) * len(W.LEGAL):
                name += f" {n // (len(W.PRODUCER_BASES) * len(W.LEGAL)) + 1}"
        country = r.choice(ctx.ids["N_ISO_COUNTRY_CODE"]) if r.random() > 0.1 else None
        address = maybe(r, 0.3, f"гр. {r.choice(W.CITIES)}, {r.choice(W.STREETS)} {r.randint(1, 120)}")
        tel = "" if n % 11 == 4 else maybe(r, 0.4, phone(r))
        created = None if n % 9 == 5 else stamp(r)
        if n == 1:
            created = dt.datetime(2022, 3, 1)  # exactly midnight
        rows.append((i, name, country, address, tel, created))
    return rows


def article_group(ctx):
    r = ctx.rng("ARTICLE_GROUP")
    names = ["Аналгетици", "Антибиотици", "Антихистамини", "Сърдечно-съдови", "Диабет",
             "Стомашно-чревни", "Кашлица и настинка", "Витамини и минерали", "Дерматология",
             "Очни капки", "Детски продукти", "Женско здраве", "Урология", "Неврология",
             "Превръзки и бинтове", "Тестове", "Ортопедични изделия", "Билки", "Козметика",
             "Хомеопатия"]
    rows = []
    for n, i in enumerate(ctx.new_ids("ARTICLE_GROUP")):
        name = names[n % len(names)] + ("" if ctx.source else " - склад")
        rows.append((i, f"G{n + 1:03d}", name, maybe(r, 0.2, r.choice(ctx.ids["N_PRODUCT_GROUP"]))))
    return rows


def shelf(ctx):
    r = ctx.rng("SHELF")
    rows = []
    for n, i in enumerate(ctx.new_ids("SHELF")):
        name = f"{W.SHELVES[n % len(W.SHELVES)]} {n // len(W.SHELVES) + 1}"
        rows.append((i, f"SH{n + 1:02d}", name, None if n % 5 == 3 else ctx.pharm_id + (n % 2) * r.randint(1, 3)))
    return rows


def article(ctx):
    r = ctx.rng("ARTICLE")
    special = [  # (name, latin): quotes, markup characters, apostrophes, numero sign, empty text
        ("Аспирин \"Байер\" 500 мг табл. x20", "Acidum acetylsalicylicum"),
        ("Д-р Тайсс <Натурварен> мехлем 50 г", None),
        ("Парацетамол & Кофеин табл. x10", "Paracetamolum & Coffeinum"),
        ("Сироп за кашлица 'Мамин' 100 мл", ""),
        ("Бинт № 5 стерилен", ""),
        ("„Исландски лишей“ пастили x30", "Cetraria islandica"),
    ]
    rows = []
    for n, i in enumerate(ctx.new_ids("ARTICLE")):
        drug, latin = W.DRUGS[n % len(W.DRUGS)]
        if ctx.source and n < len(special):
            name, latin = special[n]
        else:
            form, strengths, packs = r.choice(W.FORMS)
            name = f"{drug} {r.choice(strengths)} {form} {r.choice(packs)}"
            latin = maybe(r, 0.25, latin)
        if n == 7:
            barcode = 2147483648  # one above the 32-bit range's end
        elif n % 13 == 9:
            barcode = None
        else:
            barcode = 3800000000000 + r.randrange(10 ** 9) * 10 + n % 10
        rx = 1 if r.random() < 0.55 else 0
        price = money(r, 0.5, 180)
        if ctx.source and n == 8:
            price = Decimal("1234567.89")
        elif ctx.source and n == 10:
            price = Decimal("0.00")
        rows.append((
            i, f"A{(i if ctx.source else i - TARGET_ID_OFFSET + 500000):06d}", name, latin, barcode,
            r.choice(ctx.ids["PRODUCER"]), r.choice(ctx.ids["ARTICLE_GROUP"]),
            maybe(r, 0.2, r.choice(ctx.ids["SHELF"])),
            maybe(r, 0.3, r.choice(ctx.ids["N_DRUG_TYPE"])),
            maybe(r, 0.6, r.choice(ctx.ids["N_NZOK_GROUP"])),
            maybe(r, 0.3, r.choice(ctx.ids["N_MEDICAL_ARTICLE_TYPE"])),
            price, 9.0 if n % 17 == 3 else 20.0, maybe(r, 0.5, r.randint(1, 20)), rx,
            stamp(r), maybe(r, 0.3, day(r, dt.date(2022, 1, 1), 700))))
    return rows


def article_nzok(ctx):
    r = ctx.rng("ARTICLE_NZOK")
    rows = []
    for n, i in enumerate(ctx.new_ids("ARTICLE_NZOK")):
        price = money(r, 1, 250)
        patient = maybe(r, 0.3, (price * Decimal(r.choice([25, 50, 75])) / 100).quantize(Decimal("0.01")))
        start = day(r, dt.date(2022, 1, 1), 500)
        rows.append((i, r.choice(ctx.ids["ARTICLE"]), f"{'AB'[n % 2]}{r.randint(1000, 9999)}", price,
                     patient, start, maybe(r, 0.5, start + dt.timedelta(days=365))))
    return rows


def article_info(ctx):
    r = ctx.rng("ARTICLE_INFO")
    rows = []
    articles = ctx.ids["ARTICLE"]
    for n, i in enumerate(ctx.new_ids("ARTICLE_INFO")):
        k = r.randint(1, 4)
        text = "\r\n".join(r.choice(W.DESCRIPTION_LINES) for _ in range(k))
        if n % 7 == 3:
            text = None
        elif n % 7 == 5:
            text = ""
        dosage = "по 1 табл.\r\n3 пъти дневно" if n == 0 else maybe(r, 0.3, f"по {r.randint(1, 3)} {r.choice(['табл.', 'капс.', 'мл', 'капки'])} {r.randint(1, 4)} пъти дневно")
        rows.append((i, articles[n % len(articles)], dosage, text))
    return rows


def supplier(ctx):
    r = ctx.rng("SUPPLIER")
    rows = []
    for n, i in enumerate(ctx.new_ids("SUPPLIER")):
        base = W.SUPPLIER_BASES[n % len(W.SUPPLIER_BASES)]
        suffix = W.LEGAL[(n // len(W.SUPPLIER_BASES)) % 4]
        name = f"{base} {suffix}" if n < len(W.SUPPLIER_BASES) * 4 else f"{base} {suffix} {n}"
        if not ctx.source:
            name = "Регионален склад " + name
        bulstat = f"{r.randrange(10 ** 9):09d}"
        vat = maybe(r, 0.3, "BG" + bulstat)
        city = r.choice(W.CITIES)
        limit = None if n % 4 == 1 else money(r, 0, 50000)
        if n == 2:
            limit = Decimal("-1500.00")
        email = maybe(r, 0.4, f"office{n + 1}@supplier{n % 7}.bg")
        rows.append((i, name, bulstat, vat, city, f"{r.choice(W.STREETS)} {r.randint(1, 200)}",
                     "" if n % 10 == 6 else maybe(r, 0.2, phone(r)), email, limit))
    return rows


def supplier_code(ctx):
    r = ctx.rng("SUPPLIER_CODE")
    return [(i, r.choice(ctx.ids["SUPPLIER"]), r.choice(ctx.ids["ARTICLE"]), f"{r.randint(10000, 999999)}-{n % 10}")
            for n, i in enumerate(ctx.new_ids("SUPPLIER_CODE"))]


def article_supplier(ctx):
    r = ctx.rng("ARTICLE_SUPPLIER")
    return [(i, r.choice(ctx.ids["ARTICLE"]), r.choice(ctx.ids["SUPPLIER"]), maybe(r, 0.2, money(r, 0.3, 150)),
             maybe(r, 0.3, stamp(r)), 1 if n % 5 == 0 else 0)
            for n, i in enumerate(ctx.new_ids("ARTICLE_SUPPLIER"))]


def parcel(ctx):
    r = ctx.rng("PARCEL")
    rows = []
    # Expiry dates before the day-count origin (30.12.1899), the origin itself and NULLs.
    special = {2: dt.date(1800, 1, 1), 6: dt.date(1899, 12, 29), 10: dt.date(1899, 12, 30),
               14: dt.date(1753, 6, 15)} if ctx.source else {3: dt.date(1899, 1, 1)}
    for n, i in enumerate(ctx.new_ids("PARCEL")):
        if n in special:
            expiry = special[n]
        elif n % 8 == 4:
            expiry = None
        else:
            expiry = day(r, dt.date(2024, 1, 1), 1800)
        qty = r.choice([1.0, 2.0, 5.0, 10.0, 20.0, 0.5, 12.75, 0.1, 3.0])
        if n == 12:
            qty = 123456789.125
        elif n == 24:
            qty = 1 / 3
        cost = money(r, 0.3, 150)
        sale = (cost * Decimal("1.25")).quantize(Decimal("0.01"))
        cert = maybe(r, 0.5, f"Серт. №{r.randint(100, 9999)}/{r.randint(2021, 2023)}")
        pharm = None if n % 6 == 5 else ctx.pharm_id
        rows.append((i, r.choice(ctx.ids["ARTICLE"]), maybe(r, 0.1, r.choice(ctx.ids["SUPPLIER"])),
                     maybe(r, 0.1, f"L{r.randint(10000, 99999)}"), expiry, qty, cost, sale, cert, pharm,
                     stamp(r)))
    return rows


def expense_type(ctx):
    parents = ["Наем", "Комунални услуги", "Заплати и осигуровки"]
    children = [(1, "Наем на помещение"), (1, "Наем на склад"), (2, "Електроенергия"), (2, "Вода"),
                (2, "Отопление"), (2, "Телефон и интернет"), (3, "Заплати"), (3, "Осигуровки"),
                (3, "Бонуси")]
    n = ctx.counts["EXPENSE_TYPE"]
    ids = ctx.new_ids("EXPENSE_TYPE")
    np = min(len(parents), max(1, n // 4))
    rows = [(ids[k], None, parents[k] if ctx.source else parents[k] + " (общо)") for k in range(np)]
    kids = [c for c in children if c[0] <= np]
    for k, i in enumerate(ids[np:]):
        parent, name = kids[k % len(kids)]
        rows.append((i, ids[parent - 1], name))
    return rows


def customer(ctx):
    r = ctx.rng("CUSTOMER")
    rows = []
    for n, i in enumerate(ctx.new_ids("CUSTOMER")):
        if n % 3 == 0:
            first, middle, last, _ = person(r)
            name, bulstat = f"{first} {last}", None
        else:
            name = f"{r.choice(['ДКЦ', 'МБАЛ', 'ДМСГД', 'Хоспис', 'Фирма'])} \"{r.choice(W.CITIES)}\" {r.choice(W.LEGAL[:4])}"
            bulstat = f"{r.randrange(10 ** 9):09d}"
        note = "" if n % 7 == 2 else maybe(r, 0.7, r.choice(["Редовен клиент", "Плаща с карта",
                                                             "Отстъпка по договор №12", "Доставка до адрес"]))
        rows.append((i, name, bulstat, maybe(r, 0.2, r.choice(W.CITIES)),
                     maybe(r, 0.4, f"{r.choice(W.STREETS)} {r.randint(1, 99)}"),
                     maybe(r, 0.5, r.choice([2.5, 5.0, 10.0, 7.25])),
                     maybe(r, 0.3, r.choice(ctx.ids["N_PAYMENT_TYPE"])),
                     None if n % 8 == 7 else ctx.pharm_id, note))
    return rows


def measure_name(ctx):
    return fixed(ctx, "MEASURE_NAME", [("брой", "бр."), ("опаковка", "оп."), ("блистер", "бл."),
                                        ("милилитър", "мл"), ("грам", "г"), ("килограм", "кг"),
                                        ("литър", "л"), ("ампула", "амп.")])


def measure(ctx):
    r = ctx.rng("MEASURE")
    return [(i, r.choice(ctx.ids["ARTICLE"]), r.choice(ctx.ids["MEASURE_NAME"]),
             r.choice([1.0, 10.0, 20.0, 30.0, 100.0, 0.5, 2.5]), 1 if n % 3 == 0 else 0)
            for n, i in enumerate(ctx.new_ids("MEASURE"))]


def patient(ctx):
    r = ctx.rng("PATIENT")
    rows = []
    for n, i in enumerate(ctx.new_ids("PATIENT")):
        first, middle, last, gender = person(r)
        birth = maybe(r, 0.1, day(r, dt.date(1931, 1, 1), 30000))
        maternity = r.choice(ctx.ids["N_PATIENT_MATERNITY_TYPE"]) if gender == "Ж" and n % 5 == 0 else None
        rows.append((i, maybe(r, 0.1, f"{r.randrange(10 ** 10):010d}"), first, "" if n % 9 == 4 else middle,
                     last, birth, gender if n % 11 != 6 else None, maternity, maybe(r, 0.5, phone(r))))
    return rows


def patient_protocol(ctx):
    r = ctx.rng("PATIENT_PROTOCOL")
    rows = []
    for n, i in enumerate(ctx.new_ids("PATIENT_PROTOCOL")):
        issued = day(r, dt.date(2022, 1, 1), 700)
        rows.append((i, r.choice(ctx.ids["PATIENT"]), r.choice(ctx.ids["N_PROTOCOL_TYPE"]),
                     f"{r.randint(1, 9999)}/{issued.year}", issued,
                     maybe(r, 0.3, issued + dt.timedelta(days=180)),
                     maybe(r, 0.7, "Продължение на терапията")))
    return rows


def doctor(ctx):
    r = ctx.rng("DOCTOR")
    rows = []
    for n, i in enumerate(ctx.new_ids("DOCTOR")):
        first, middle, last, _ = person(r)
        rows.append((i, f"{r.randrange(10 ** 10):010d}", f"Д-р {first} {last}",
                     maybe(r, 0.1, r.choice(ctx.ids["N_DOCTOR_SPECIALTY"])),
                     maybe(r, 0.4, f"{r.randint(1, 28):02d}{r.randint(10, 99)}"), maybe(r, 0.5, phone(r))))
    return rows


def rzok(ctx):
    ids = ctx.new_ids("RZOK")
    names = W.RZOK if ctx.source else ["Пловдив"]
    return [(i, f"{(W.RZOK.index(names[k]) + 1):02d}", f"РЗОК - {names[k]}",
             f"Д-{16 + k}-{2023}" if k % 3 == 0 else None) for k, i in enumerate(ids)]


def vtr_env_vars(ctx):
    values = [
        ("PHARMACY_NAME", ctx.pharm_name, None),
        ("PHARM_ID", None, ctx.pharm_id),
        ("ARCHIVE_PATH", "C:\\Аптека\\Архив\\" if ctx.source else "D:\\Backup\\", None),
        ("RECEIPT_FOOTER", "Благодарим Ви!\r\nЗаповядайте отново.", None),
        ("DEFAULT_VAT", "20", 20),
        ("LAST_SYNC", "", None),
        ("PRINTER", "Datecs FP-2000 <COM1>", 1),
        ("NZOK_CONTRACT", "№ 16-1234/2023 & анекс 'А'", None),
        ("ROUNDING", "0.01", 2),
        ("BIG_NUMBER", None, 2147483647),
    ]
    ids = ctx.new_ids("VTR_ENV_VARS")
    return [(i,) + values[k] for k, i in enumerate(ids)]


def substitude_article(ctx):
    r = ctx.rng("SUBSTITUDE_ARTICLE")
    rows = []
    arts = ctx.ids["ARTICLE"]
    for n, i in enumerate(ctx.new_ids("SUBSTITUDE_ARTICLE")):
        a = r.choice(arts)
        b = r.choice(arts)
        if b == a:
            b = arts[(arts.index(a) + 1) % len(arts)]
        rows.append((i, a, b, maybe(r, 0.6, "Същото активно вещество")))
    return rows


def company_data(ctx):
    return [(1, ctx.pharm_name) + VERSION[ctx.role]]


BUILDERS = {
    "PRODUCER": producer, "ARTICLE_GROUP": article_group, "SHELF": shelf, "ARTICLE": article,
    "ARTICLE_NZOK": article_nzok, "ARTICLE_INFO": article_info, "SUPPLIER": supplier,
    "SUPPLIER_CODE": supplier_code, "ARTICLE_SUPPLIER": article_supplier, "PARCEL": parcel,
    "EXPENSE_TYPE": expense_type, "CUSTOMER": customer, "MEASURE_NAME": measure_name,
    "MEASURE": measure, "PATIENT": patient, "PATIENT_PROTOCOL": patient_protocol, "DOCTOR": doctor,
    "RZOK": rzok, "VTR_ENV_VARS": vtr_env_vars, "SUBSTITUDE_ARTICLE": substitude_article,
}


# ------------------------------------------------------------------ documents

def documents(ctx):
    """A few rows per document table, referencing the nomenclature just built."""
    r = ctx.rng("DOCUMENTS")
    ids = ctx.ids
    a = lambda: r.choice(ids["ARTICLE"])
    s = lambda: r.choice(ids["SUPPLIER"])
    p = lambda: r.choice(ids["PARCEL"])
    rows = {}
    rows["DELETED_ITEM"] = [(1, "SALE", 77, stamp(r)), (2, "DELIVERY", 5, stamp(r))]
    rows["RZOK_INVOICE"] = [(k, r.choice(ids["RZOK"]), f"{1000 + k:010d}", dt.date(2023, k, 1),
                             dt.date(2023, k, 28), money(r, 100, 9000)) for k in (1, 2, 3)]
    rows["RZOK_COR_INVOICE"] = [(1, 2, money(r, -50, -1))]
    rows["EXPENSE"] = [(k, r.choice([t for t in ids["EXPENSE_TYPE"]]), day(r, dt.date(2023, 1, 1), 300),
                        money(r, 10, 3000), maybe(r, 0.5, "Фактура №" + str(r.randint(1, 9999))))
                       for k in (1, 2, 3, 4)]
    rows["DELIVERY"] = [(k, s(), r.choice(ids["N_DELIVERY_TYPE"]), f"Ф-{r.randint(1, 99999)}",
                         day(r, dt.date(2023, 1, 1), 300), money(r, 100, 20000)) for k in (1, 2, 3)]
    rows["DELIVERY_ITEM"] = [(k, 1 + k % 3, p(), float(r.randint(1, 50)), money(r, 1, 80)) for k in range(1, 7)]
    rows["DELIVERY_ORDER"] = [(1, s(), None, dt.date(2023, 4, 3)), (2, s(), None, dt.date(2023, 4, 17))]
    rows["DELIVERY_ORDER_ITEM"] = [(k, 1 + k % 2, a(), float(r.randint(1, 30))) for k in range(1, 5)]
    rows["INV_COR"] = [(1, r.choice(ids["N_INV_COR_TYPE"]), dt.date(2023, 6, 30), "Годишна инвентаризация")]
    rows["INV_COR_ITEM"] = [(k, 1, p(), r.choice([-1.0, 1.0, -0.5])) for k in (1, 2, 3)]
    rows["SALE_PRICE_COR"] = [(1, dt.datetime(2023, 3, 1, 9, 0, 0), "Нови цени от доставчик")]
    rows["SALE_PRICE_COR_ITEM"] = [(k, 1, a(), money(r, 1, 50), money(r, 1, 50)) for k in (1, 2)]
    rows["INVENTORY_FULL_INFO"] = [(k, a(), p(), dt.date(2023, 6, 30), float(r.randint(0, 40))) for k in (1, 2, 3)]
    rows["PAYMENT"] = [(k, s(), day(r, dt.date(2023, 1, 1), 300), money(r, 100, 10000), None) for k in (1, 2)]
    rows["DRUG_SALE"] = [(k, a(), day(r, dt.date(2023, 1, 1), 300), float(r.randint(1, 3))) for k in (1, 2)]
    sales = [1, 2, 3, 4, 5]
    rows["SALE"] = [(k, stamp(r), maybe(r, 0.5, r.choice(ids["CUSTOMER"])), r.choice(ids["N_SALE_TYPE"]),
                     money(r, 1, 300)) for k in sales]
    rows["PRESCRIPTION_SALE"] = [(1, 1, 2, money(r, 1, 40)), (2, 2, 4, None)]
    rows["SALE_ITEM"] = [(k, sales[k % 5], a(), maybe(r, 0.3, p()), float(r.randint(1, 4)), money(r, 1, 90))
                         for k in range(1, 9)]
    rows["SALE_PAYMENT"] = [(k, k, r.choice(ids["N_PAYMENT_TYPE"]), money(r, 1, 300)) for k in sales]
    rows["SALE_COR"] = [(1, 3, stamp(r), "Върнат продукт")]
    rows["SALE_COR_ITEM"] = [(1, 1, 3, -1.0)]
    rows["PRESCRIPTION"] = [(k, r.choice(ids["PATIENT"]), r.choice(ids["DOCTOR"]),
                             r.choice(ids["N_PRESCRIPTION_TYPE"]), f"{r.randint(10 ** 5, 10 ** 6)}",
                             day(r, dt.date(2023, 1, 1), 300)) for k in (1, 2)]
    rows["PRESCRIPTION_ITEM"] = [(k, 1 + k % 2, a(), float(r.randint(1, 3))) for k in (1, 2, 3)]
    rows["CONSIGN_REPORT"] = [(1, s(), dt.date(2023, 5, 31), money(r, 100, 5000))]
    rows["DENIAL"] = [(k, a(), stamp(r), float(r.randint(1, 5)), maybe(r, 0.5, "Няма наличност"))
                      for k in (1, 2, 3)]
    return rows


def replicas(ctx):
    r = ctx.rng("REPLICAS")
    arts = ctx.ids["ARTICLE"]
    return {
        "SALE_12": [(k, stamp(r), money(r, 1, 200), 12) for k in range(1, 6)],
        "STOCK_3": [(k, r.choice(arts), float(r.randint(0, 60)), 3) for k in range(1, 5)],
        "STOCK_12A": [(k, r.choice(arts), float(r.randint(0, 60)), 12) for k in range(1, 4)],
    }


def article_central_lock(ctx):
    r = ctx.rng("ARTICLE_CENTRAL_LOCK")
    return [(k, r.choice(ctx.ids["ARTICLE"]), stamp(r), maybe(r, 0.3, "централа")) for k in (1, 2, 3)]


def build(role, scale, dialect):
    """All rows of the dialect's database: {table name: [row tuple, ...]}."""
    ctx = Ctx(role, scale)
    rows = n_tables(ctx)
    for t in schema.NOMENCLATURE:
        if t.name not in rows:
            rows[t.name] = BUILDERS[t.name](ctx)
    rows["COMPANY_DATA"] = company_data(ctx)
    if dialect in ("mysql", "firebird"):
        rows.update(documents(ctx))
        if dialect == "mysql":
            rows.update(replicas(ctx))
        else:
            rows["ARTICLE_CENTRAL_LOCK"] = article_central_lock(ctx)
    for t in schema.tables_for(dialect):
        width = len(t.columns)
        for row in rows.get(t.name, []):
            assert len(row) == width, f"{t.name}: row {row[0]} has {len(row)} values, {width} columns"
    for name, count in ctx.counts.items():
        assert len(rows[name]) == count, f"{name}: {len(rows[name])} rows, {count} expected"
    return rows
