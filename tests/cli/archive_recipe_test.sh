#!/usr/bin/env bash
# Runs the README's recipe for a whole archive, as written there, over three PDFs,
# then again after lost images and after a Ctrl+C: each time every image is there
# and whole, no temporary file is left, and the images that were there already
# keep their inode and time.
#   archive_recipe_test.sh CONVERT_DIR MAKE_PDF_DIR README
set -euo pipefail
export PATH="$(realpath "$1"):$(realpath "$2"):$PATH"
recipe=$(sed -n '/^## Converting a whole archive/,/^## /p' "$3" | sed -n '/^```sh$/,/^```$/p' | sed '1d;$d')
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }
mkdir -p archive/sub
make_pdf archive/a.pdf 3
make_pdf archive/b.pdf 2
make_pdf archive/sub/c.pdf 40

# Every page of each PDF is a whole JPEG, and nothing else is there.
check_images() {
    for spec in a:3 b:2 sub/c:40; do
        local name=${spec%:*}
        for ((page = 1; page <= ${spec#*:}; page++)); do
            local file
            file=$(printf 'images/archive/%s/%s_page_%04d.jpg' "$name" "${name##*/}" "$page")
            [ "$(head -c3 "$file" | od -An -tx1 | tr -d ' ')$(tail -c2 "$file" | od -An -tx1 | tr -d ' ')" = ffd8ffffd9 ] ||
                fail "$file is missing or not a whole JPEG"
        done
    done
    [ "$(find images -type f | wc -l)" -eq 45 ] || fail "other files: $(find images -type f -name '.*')"
}
snapshot() { find images -type f -printf '%p %i %T@\n' | sort; }
# The last three JSON lines, one per PDF: pages written and skipped.
counts() {
    tail -n 3 results.jsonl | python3 -c 'import json,sys
for o in sorted((json.loads(l) for l in sys.stdin), key=lambda o: o["file"]):
    r = o["result"]; print(o["file"], r["pages_written"], r["pages_skipped"], r["pages_failed"], r["error"])'
}

bash -c "$recipe" || fail "the first run ended with status $?"
check_images
[ "$(counts)" = $'archive/a.pdf 3 0 0 None\narchive/b.pdf 2 0 0 None\narchive/sub/c.pdf 40 0 0 None' ] || fail "$(counts)"

# Lost images are made again; the others stay as they were.
rm -r images/archive/b images/archive/a/a_page_0002.jpg
snapshot >before
bash -c "$recipe" || fail "the resume ended with status $?"
check_images
[ "$(counts)" = $'archive/a.pdf 1 2 0 None\narchive/b.pdf 2 0 0 None\narchive/sub/c.pdf 0 40 0 None' ] || fail "$(counts)"
[ -z "$(snapshot | comm -23 before -)" ] || fail "images that were there changed"

# Ctrl+C reaches the command's process group, as at a terminal, once c.pdf is under way.
rm -r images/archive/sub
setsid bash -c "$recipe" &
for ((i = 0; i < 400 && $(find images/archive/sub -name '*.jpg' 2>/dev/null | wc -l) == 0; i++)); do
    sleep 0.05
done
kill -INT -- "-$!" || true  # unless it has ended already
wait "$!" || true
[ -z "$(find images -name '.*')" ] || fail "the interrupted run left $(find images -name '.*')"
snapshot >before
bash -c "$recipe" || fail "the resume after Ctrl+C ended with status $?"
check_images
[ -z "$(snapshot | comm -23 before -)" ] || fail "images that were there changed"
echo "the recipe, its resume and its resume after Ctrl+C made every image once"
