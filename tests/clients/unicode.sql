-- Text in many scripts, read through the Unicode driver with pyodbc's
-- default settings and through the SQLite ODBC driver
-- (tests/clients/pyodbc_unicode.py).
CREATE TABLE people (
  id INTEGER PRIMARY KEY,
  name VARCHAR(60) NOT NULL UNIQUE,
  city VARCHAR(40),
  born DATE,
  seen TIMESTAMP
);
INSERT INTO people VALUES
  (1, 'Zoë Ångström', 'Malmö', '1970-01-31', '2024-02-29 12:34:56.123456'),
  (2, '東京 太郎', '東京', '1985-12-01', '2001-09-09 01:46:40'),
  (3, 'Ελένη Παπαδοπούλου', 'Αθήνα', NULL, NULL),
  (4, 'Дмитрий Шостакович', 'Санкт-Петербург', '1906-09-25', '1975-08-09 00:00:00.5'),
  (5, 'مريم الحسن', 'القاهرة', '1999-09-09', '2024-01-01 00:00:00'),
  (6, 'שרה לוי', 'ירושלים', '2000-02-29', '2000-02-29 23:59:59.999999'),
  (7, 'अनन्या शर्मा', 'मुंबई', '1991-07-15', NULL),
  (8, 'สมชาย ใจดี', 'กรุงเทพ', '1968-04-01', '1999-12-31 23:59:59'),
  (9, 'emoji 😀🎉👩‍👩‍👧 ✓', 'Ürümqi 🏔', '2020-02-02', '2020-02-02 02:02:02'),
  (10, 'e' || char(769) || 'clair combiné', 'Genève', '1815-05-19', NULL);
