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
  "cancel: drop the hold|DELETE FROM card_number WHERE track = 2 AND card_text = '90000001' AND state = 'reserved' AND station = 'bench'"
  "cancel: the earlier card back|SELECT t.track, t.card_text, 'written', c.station, c.id, c.written_local FROM written_track t JOIN written_card c ON c.id = t.card_id WHERE t.track = 2 AND t.card_text = '90000001' ORDER BY c.id DESC LIMIT 1"
  "mark unconfirmed|UPDATE card_number SET state = 'unconfirmed', unconfirmed_reason = 'timeout' WHERE track = 2 AND card_text = '90000001' AND station = 'bench' AND state = 'reserved'"
  "start: leftover reservations|UPDATE card_number SET state = 'unconfirmed', unconfirmed_reason = 'interrupted' WHERE station = 'bench' AND state = 'reserved'"
  "start: unsaved lines|SELECT t.card_id, t.track, t.card_text, c.written_local FROM written_track t JOIN written_card c ON c.id = t.card_id WHERE c.station = 'bench' AND NOT EXISTS (SELECT 1 FROM list_save_entry e WHERE e.card_id = t.card_id AND e.track = t.track) ORDER BY t.card_id, t.track"
  "open reservations|SELECT track, card_text, state, station, held_local, unconfirmed_reason FROM card_number WHERE state <> 'written' ORDER BY held_local, track, card_text"
  "newest id|SELECT MAX(id) FROM written_card"
  "first page|SELECT c.id, c.written_local, c.station, c.run_kind, c.card_index, c.deliberate_repeat, t2.card_text, t2.file_name, t2.record_number, t3.card_text, t3.file_name, t3.record_number FROM written_card c LEFT JOIN written_track t2 ON t2.card_id = c.id AND t2.track = 2 LEFT JOIN written_track t3 ON t3.card_id = c.id AND t3.track = 3 WHERE 1 = 1 AND c.id <= 1000100 ORDER BY c.id DESC LIMIT 5000"
  "search by number|SELECT c.id, c.written_local, c.station, c.run_kind, c.card_index, c.deliberate_repeat, t2.card_text, t2.file_name, t2.record_number, t3.card_text, t3.file_name, t3.record_number FROM written_card c LEFT JOIN written_track t2 ON t2.card_id = c.id AND t2.track = 2 LEFT JOIN written_track t3 ON t3.card_id = c.id AND t3.track = 3 WHERE 1 = 1 AND (c.station LIKE '%50000051%' ESCAPE '!' OR EXISTS (SELECT 1 FROM written_track s WHERE s.card_id = c.id AND s.card_text LIKE '%50000051%' ESCAPE '!')) AND c.id <= 1000100 ORDER BY c.id DESC LIMIT 5000"
)

for entry in "${statements[@]}"; do
  name=${entry%%|*} statement=${entry#*|}
  echo "== $name"
  # EXPLAIN QUERY PLAN only plans: nothing is written.
  echo "-- SQLite"
  sqlite3 -readonly "$file" "EXPLAIN QUERY PLAN $statement" | sed 's/^/   /'
  if [[ -n "$uri" ]]; then
    echo "-- PostgreSQL"
    # Planned and rolled back: EXPLAIN without ANALYZE runs nothing either.
    psql -X -q -At "$uri" -c "EXPLAIN (COSTS OFF) $statement" | sed 's/^/   /'
  fi
done
