#!/usr/bin/env bash
# filter-vs-iconv.sh BUILD_DIR OUT.dat [ROUNDS]: the time the article filter
# takes to re-encode an iso-8859-2 article into utf-8 (sitowiak-filter
# article --charset utf-8), against iconv on the same bytes, for articles of
# 1 to 64 MB. The two alternate, ROUNDS times (default 3); the best time of
# each is kept, since on a shared machine noise only ever adds time.
# Writes "bytes filter_seconds iconv_seconds" lines to OUT.dat and prints them.
set -euo pipefail
build=$(cd "$1" && pwd)
out=$2
rounds=${3:-3}
tool=$build/sitowiak-filter
[ -x "$tool" ] || { echo "missing $tool"; exit 1; }
command -v iconv >/dev/null || { echo "iconv (libc-bin) is missing"; exit 1; }
work=$(mktemp -d /tmp/sitowiak-filter-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

# One block of Polish text lines in iso-8859-2, repeated to 64 MB.
python3 - "$work/text" <<'PY'
import random, sys
words = ("zażółć gęślą jaźń pchnąć w tę łódź jeża lub ośm skrzyń fig "
         "news usenet grupa artykuł odpowiedź serwer czytnik proxy the and of").split()
rng = random.Random(1)
lines = [" ".join(rng.choice(words) for _ in range(rng.randint(3, 12))) for _ in range(20000)]
block = ("\r\n".join(lines) + "\r\n").encode("iso-8859-2")
with open(sys.argv[1], "wb") as f:
    f.write(block * (64 * 1024 * 1024 // len(block) + 1))
PY

seconds() {  # seconds COMMAND...: wall time of one run, output discarded
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null
    end=$(date +%s.%N)
    awk -v a="$start" -v b="$end" 'BEGIN {printf "%.4f", b - a}'
}
best() { tr ' ' '\n' <<<"$1" | grep . | sort -g | head -1; }

echo "# bytes filter_seconds iconv_seconds (best of $rounds)" >"$out"
for mb in 1 2 4 8 16 32 64; do
    size=$((mb * 1024 * 1024))
    body=$work/body.$mb
    head -c "$size" "$work/text" | sed -n '$!p' >"$body"  # whole lines only
    {
        printf 'From: bench@example.invalid\r\nSubject: bench\r\n'
        printf 'Content-Type: text/plain; charset=iso-8859-2\r\n\r\n'
        cat "$body"
        printf '.\r\n'
    } >"$work/article.$mb"
    f= i=
    for ((r = 0; r < rounds; r++)); do
        f+=" $(seconds "$tool" article --charset utf-8 <"$work/article.$mb")"
        i+=" $(seconds iconv -f iso-8859-2 -t utf-8 "$body")"
    done
    line="$(stat -c %s "$work/article.$mb") $(best "$f") $(best "$i")"
    echo "$line" | tee -a "$out"
done
