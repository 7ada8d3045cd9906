#!/usr/bin/env bash
# Prints the query plans of the statements a card and a start of the station
# run, on a SQLite journal file and, given a URI, on a PostgreSQL journal (its
# search path picks the schema). Literal values stand for the parameters: a
# number among the written ones, a station's name.
#   bench/query_plans.sh FILE [URI]
set -euo pipefail
file=${1:?usage: $0 FILE [URI]}
uri=${2:-}

statements=(
  "holder (first free, reservation)|SELECT state, station, held_local, unconfirmed_reason FROM card_number WHERE track = 2 AND card_text = '10500000'"
  "reservation|INSERT INTO card_number (track, card_text, state, station, card_id, held_local) VALUES (2, '90000001', 'reserved', 'bench', NULL, '') ON CONFLICT (track, card_text) DO NOTHING RETURNING track"
  "duplicate lookup|SELECT c.id, c.written_local, c.station FROM card_number n JOIN written_card c ON c.id = n.card_id WHERE n.track = 2 AND n.card_text = '10500000' AND n.state = 'written'"
  "record: key|SELECT id FROM written_card WHERE card_key = 'k'"
  "record: number row|INSERT INTO card_number (track, card_text, state, station, card_id, held_local) VALUES (2, '90000001', 'written', 'bench', 1, '') ON CONFLICT (track, card_text) DO UPDATE SET state = 'written', station = excluded.station, card_id = excluded.card_id, held_local = excluded.held_local, unconfirmed_reason = ''"
  "record: the card in one statement (PostgreSQL)|WITH card AS (INSERT INTO written_card (written_utc_ms, written_local, station, port, device_path, run_kind, card_index, deliberate_repeat, card_key) VALUES (0, '', 'bench', 'COM1', '', 'continuous', 1, 0, 'k') ON CONFLICT (card_key) DO NOTHING RETURNING id), track0 AS (INSERT INTO written_track (card_id, track, card_text, file_name, record_number) SELECT id, CAST(2 AS INTEGER), '90000001', NULL, CAST(NULL AS INTEGER) FROM card), number0 AS (INSERT INTO card_number (track, card_text, state, station, card_id, held_local) SELECT CAST(2 AS INTEGER), '90000001', 'written', 'bench', id, '' FROM card ON CONFLICT (track, card_text) DO UPDATE SET state = 'written', station = excluded.station, card_id = excluded.card_id, held_local = excluded.held_local, unconfirmed_reason = '') SELECT id FROM card UNION ALL SELECT id FROM written_card WHERE card_key = 'k'"
  "cancel: drop the hold|DELETE FROM card_number WHERE track = 2 AND card_text = '90000001' AND state = 'reserved' AND station = 'bench'"
  "cancel: the earlier card back|SELECT t.track, t.card_text, 'written', c.station, c.id, c.written_local FROM written_track t JOIN written_card c ON c.id = t.card_id WHERE t.track = 2 AND t.card_text = '90000001' ORDER BY c.id DESC LIMIT 1"
  "mark unconfirmed|UPDATE card_number SET state = 'unconfirmed', unconfirmed_reason = 'timeout' WHERE track = 2 AND card_text = '90000001' AND station = 'bench' AND state = 'reserved'"
  "start: leftover reservations|UPDATE card_number SET state = 'unconfirmed', unconfirmed_reason = 'interrupted' WHERE station = 'bench' AND state = 'reserved'"
  "start: unsaved lines|SELECT t.card_id, t.track, t.card_text, c.written_local FROM written_track t JOIN written_card c ON c.id = t.card_id WHERE c.station = 'bench' AND NOT EXISTS (SELECT 1 FROM list_save_entry e WHERE e.card_id = t.card_id AND e.track = t.track) ORDER BY t.card_id, t.track"
  "open reservations|SELECT track, card_text, state, station, held_local, unconfirmed_reason FROM card_number WHERE state <> 'written' ORDER BY held_local, track, card_text"
  "newest id|SELECT MAX(id) FROM written_card"
  "first page: cards|SELECT c.id, c.written_local, c.station, c.run_kind, c.card_index, c.deliberate_repeat FROM written_card c WHERE 1 = 1 AND c.id <= 1000100 ORDER BY c.id DESC LIMIT 5000"
  "first page: their tracks (1,000 ids a statement)|SELECT card_id, track, card_text, file_name, record_number FROM written_track WHERE card_id IN (1000100,1000099,1000098,1000097) AND track IN (2, 3)"
  "search: station names holding the text|WITH RECURSIVE s (name) AS (SELECT MIN(station) FROM written_card UNION ALL SELECT (SELECT MIN(w.station) FROM written_card w WHERE w.station > s.name) FROM s WHERE s.name IS NOT NULL) SELECT COUNT(*) FROM s WHERE s.name LIKE '%10500000%' ESCAPE '!'"
  "search: the newest 10,000 cards read in full|SELECT c.id, c.written_local, c.station, c.run_kind, c.card_index, c.deliberate_repeat FROM written_card c WHERE 1 = 1 AND (c.station LIKE '%10500000%' ESCAPE '!' OR EXISTS (SELECT 1 FROM written_track s WHERE s.card_id = c.id AND s.card_text LIKE '%10500000%' ESCAPE '!')) AND c.id > 990100 AND c.id <= 1000100 ORDER BY c.id DESC LIMIT 5000"
  "search: older cards through the trigram index (SQLite)|SELECT c.id, c.written_local, c.station, c.run_kind, c.card_index, c.deliberate_repeat FROM written_card c WHERE 1 = 1 AND c.id <= 990100 AND c.id IN (SELECT s.card_id FROM written_track s WHERE s.rowid IN (SELECT rowid FROM written_track_search WHERE card_text LIKE '%10500000%' UNION ALL SELECT rowid FROM written_track WHERE rowid > (SELECT indexed_rowid FROM written_track_search_mark)) AND s.card_text LIKE '%10500000%' ESCAPE '!') ORDER BY c.id DESC LIMIT 5000"
  "record: the search index's backlog (SQLite)|SELECT (SELECT COALESCE(MAX(rowid), 0) FROM written_track) - indexed_rowid FROM written_track_search_mark"
  "record: the search index's catch-up, one batch (SQLite)|INSERT INTO written_track_search (rowid, card_text) SELECT rowid, card_text FROM written_track WHERE rowid > (SELECT indexed_rowid FROM written_track_search_mark) ORDER BY rowid"
  "search: older cards through the trigram index (PostgreSQL)|SELECT c.id, c.written_local, c.station, c.run_kind, c.card_index, c.deliberate_repeat FROM written_card c WHERE 1 = 1 AND c.id <= 990100 AND c.id IN (SELECT s.card_id FROM written_track s WHERE s.card_text LIKE '%10500000%' ESCAPE '!') ORDER BY c.id DESC LIMIT 5000"
)

for entry in "${statements[@]}"; do
  name=${entry%%|*} statement=${entry#*|}
  echo "== $name"
  # EXPLAIN QUERY PLAN only plans: nothing is written.
  if [[ $name != *"(PostgreSQL)"* ]]; then
    echo "-- SQLite"
    sqlite3 -readonly "$file" "EXPLAIN QUERY PLAN $statement" | sed 's/^/   /'
  fi
  if [[ -n "$uri" && $name != *"(SQLite)"* ]]; then
    echo "-- PostgreSQL"
    # Planned and rolled back: EXPLAIN without ANALYZE runs nothing either.
    psql -X -q -At "$uri" -c "EXPLAIN (COSTS OFF) $statement" | sed 's/^/   /'
  fi
done
