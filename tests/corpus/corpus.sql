-- A small corpus of real-world data, read back through Quarl and through the
-- SQLite ODBC driver by corpus_check.py.  Every table has an id to order by.

-- Text in several scripts and lengths: at, under and over the declared size
-- (SQLite keeps whatever it is given), emoji, combining marks, empty, NULL.
CREATE TABLE texts (
  id    INTEGER PRIMARY KEY,
  code  CHAR(6),
  name  VARCHAR(12),
  tiny  CHAR(3),
  note  TEXT
);
INSERT INTO texts VALUES
  (1,  'ABC123', 'Zoë Åström',   'abc', 'plain Latin with diacritics'),
  (2,  'ΕΛΛΑΔΑ', 'Ελληνικά',     'ΑΒΓ', 'Greek, six characters in CHAR(6)'),
  (3,  'ЖИЗНЬ',  'Жизнь Москва', 'ЖЖЖ', 'Cyrillic: three characters, six bytes, in CHAR(3)'),
  (4,  '東京都',  '東京都渋谷区',    '東京都', 'CJK: three bytes a character'),
  (5,  'مرحبا',  'مرحبا بالعالم', 'عرب', 'Arabic, right to left'),
  (6,  'שלום',   'שלום עולם',    'עבר', 'Hebrew'),
  (7,  'नमस्ते',  'नमस्ते दुनिया',  'हिं', 'Devanagari with combining signs'),
  (8,  'สวัสดี',  'สวัสดีชาวโลก',  'ไทย', 'Thai'),
  (9,  '🙂🚀',    '👨‍👩‍👧 family',   '🙂🙂🙂', 'emoji: four bytes each, a ZWJ sequence'),
  (10, 'e' || char(769), 'Café' || char(769), 'é', 'a combining acute accent'),
  (11, '',       '',              '',    ''),
  (12, NULL,     NULL,            NULL,  NULL),
  (13, 'abcdefgh', 'longer than twelve chars', 'abcd', 'longer than declared: returned whole'),
  (14, 'ЖЖЖЖЖЖЖЖЖЖЖЖЖ', 'ЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖ', 'ЖЖЖЖЖЖ', 'longer than declared, more bytes than 4n'),
  (15, 'tab	in', 'quote '' and "', 'a b', printf('%.999c', 'x'));

-- 64-bit extremes, SMALLINT bounds, exact decimals, REAL extremes.
CREATE TABLE numbers (
  id    INTEGER PRIMARY KEY,
  i     INTEGER,
  b     BIGINT,
  s     SMALLINT,
  n     NUMERIC(18,4),
  r     REAL,
  d     DOUBLE
);
INSERT INTO numbers VALUES
  (1,  0,                    0,                     0,      0,                     0.0,                      0.0),
  (2,  1,                    -1,                    1,      1.5,                   1.5,                      -1.5),
  (3,  2147483647,           2147483648,            32767,  12345678.1234,         0.1,                      0.30000000000000004),
  (4,  -2147483648,          -2147483649,           -32768, -0.0001,               -0.0,                     1e308),
  (5,  3000000000,           9007199254740993,      -1,     99999999.9999,         4.9406564584124654e-324,  1.7976931348623157e308),
  (6,  9223372036854775807,  -9223372036854775808,  42,     -99999999.9999,        2.2250738585072014e-308,  -2.2250738585072014e-308),
  (7,  -9223372036854775808, 9223372036854775807,   -42,    0.5,                   1.0 / 3,                  -1e-10),
  (8,  NULL,                 NULL,                  NULL,   NULL,                  NULL,                     NULL),
  (9,  123456789012,         -123456789012,         7,      7,                     123456.789,               6.02214076e23);

-- Dates, times and timestamps with and without fractions, in the forms
-- SQLite's own functions write and the forms applications store.
CREATE TABLE moments (
  id    INTEGER PRIMARY KEY,
  d     DATE,
  t     TIME,
  ts    TIMESTAMP,
  ms    TIMESTAMP(3)
);
INSERT INTO moments VALUES
  (1, '2024-02-29', '00:00:00', '2024-02-29 00:00:00',           '2024-02-29 12:34:56.789'),
  (2, '1999-12-31', '23:59:59', '1999-12-31 23:59:59.5',         '1999-12-31 23:59:59.999'),
  (3, '0001-01-01', '12:00',    '2024-01-05 10:20:30.123456',    '2024-01-05 10:20:30'),
  (4, '9999-12-31', '07:08:09', '2024-01-05T10:20:30.123456789Z', '2024-01-05T10:20:30.100Z'),
  (5, '2000-01-01', '13:14:15', '2024-01-05',                    '2024-01-05 00:00:00.000'),
  (6, NULL,         NULL,       NULL,                            NULL);

-- Booleans and binary data.
CREATE TABLE odds (
  id    INTEGER PRIMARY KEY,
  flag  BOOLEAN,
  data  BLOB
);
INSERT INTO odds VALUES (1, 1, x'00FF10'), (2, 0, x''), (3, NULL, NULL), (4, 'true', x'DEADBEEF');

-- Values their columns cannot carry.  In the first row: the result's first
-- fetch block opens with the refused row.
CREATE TABLE refused_first (id INTEGER PRIMARY KEY, code CHAR(6), d DATE, s SMALLINT);
INSERT INTO refused_first VALUES
  (1, printf('%.1000c', 'x'), 'not a date', 99999),
  (2, 'fine', '2024-01-05', 5);

-- 2000 rows of 28 bytes on the wire each (row marker, a BIGINT of 19 digits,
-- a DATE of 8): a fetch block of 16352 bytes (two messages of the default
-- 8192 bytes less their header and flags) holds 584 of them, so row 585
-- opens the second block.  It holds a date that does not exist.
CREATE TABLE boundary (k INTEGER PRIMARY KEY, d DATE);
WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < 2000)
INSERT INTO boundary SELECT x, date('2000-01-01', '+' || x || ' days') FROM n;
UPDATE boundary SET d = '2023-02-29' WHERE k = 585;
