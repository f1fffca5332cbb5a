#!/usr/bin/env bash
# Checks the HTML manual that "ヘルプ" → "目次" opens.
#
#   check_manual.sh [--manual DIR] [SCREENSHOT_DIR]
#   check_manual.sh --self-test
#
# DIR is the manual's root folder, the one installed as Help/Koemado_html (default: help/Koemado_html
# of this repository). Every page (*.htm, *.html) under it must
#   - declare its charset in its first 1024 bytes, and be valid UTF-8 when it declares UTF-8;
#   - hold no <script> element and no javascript: link;
#   - link (href, src) only to local files that exist, by relative paths with forward slashes,
#     and to fragments (#id) that exist in the target page;
#   - be reachable by links from the first page.
# The first page must exist at exactly html/HID00000001.htm: the program opens that file.
#
# With SCREENSHOT_DIR, each page is also rendered by headless Chromium into SCREENSHOT_DIR/<page>.png
# (1024 x 1400), when a Chromium is installed (chromium, chromium-browser, or $CHROMIUM); without
# one the screenshots are skipped with a note and the checks above still run.
#
# --self-test runs the checks on broken copies of the manual (all faults but one in one copy, in one
# pass) and fails unless each fault is caught by its own message.
#
# Exit status: 0 all checks passed, 1 a check failed, 2 usage error.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../.." && pwd)
manual="$repo/help/Koemado_html"
shots=""
self_test=0
readonly first_page_rel="html/HID00000001.htm"

while [ $# -gt 0 ]; do
  case "$1" in
    --manual) [ $# -ge 2 ] || { echo "usage: $0 [--manual DIR] [SCREENSHOT_DIR] | --self-test" >&2; exit 2; }
              manual=$2; shift 2 ;;
    --self-test) self_test=1; shift ;;
    -h|--help) sed -n '2,22p' "$0"; exit 0 ;;
    -*) echo "usage: $0 [--manual DIR] [SCREENSHOT_DIR] | --self-test" >&2; exit 2 ;;
    *) shots=$1; shift ;;
  esac
done

# ---- The checks -------------------------------------------------------------------------------

errors=0
fail() { echo "FAIL: $*" >&2; errors=$((errors + 1)); }

# Prints the values of every href= and src= attribute of a file, one per line (quoted with " or ').
links_of() {
  grep -oiE '(href|src)[[:space:]]*=[[:space:]]*("[^"]*"|'"'"'[^'"'"']*'"'"')' "$1" |
    sed -E 's/^[^=]*=[[:space:]]*//; s/^["'"'"']//; s/["'"'"']$//'
}

# Succeeds when the page declares an element with id (or a with name) equal to $2.
has_anchor() {
  grep -qE "(id|name)=[\"']$(printf '%s' "$2" | sed 's/[][\.*^$/]/\\&/g')[\"']" "$1"
}

check_manual() {
  local root=$1 page rel target path frag dir start
  errors=0
  if [ ! -d "$root" ]; then
    fail "no manual folder $root"
    return
  fi
  root=$(cd "$root" && pwd)
  [ -f "$root/$first_page_rel" ] || fail "the first page $first_page_rel is missing under $root"

  local pages=()
  while IFS= read -r -d '' page; do pages+=("$page"); done \
    < <(find "$root" -type f \( -iname '*.htm' -o -iname '*.html' \) -print0 | sort -z)
  [ ${#pages[@]} -gt 0 ] || { fail "no pages under $root"; return; }

  local -A linked=()
  for page in "${pages[@]}"; do
    rel=${page#"$root"/}
    # Charset: a meta declaration within the first 1024 bytes, as browsers require. (Read whole
    # first: grep -q stops reading at a match, and a writer still writing would fail the pipe.)
    start=$(head -c 1024 "$page")
    if ! grep -qiE '<meta[^>]+charset[[:space:]]*=[[:space:]]*["'"'"']?[A-Za-z0-9_-]+' <<< "$start"; then
      fail "$rel: no charset declared in its first 1024 bytes"
    elif grep -qiE 'charset[[:space:]]*=[[:space:]]*["'"'"']?utf-?8' <<< "$start" &&
         ! iconv -f UTF-8 -t UTF-8 "$page" > /dev/null 2>&1; then
      fail "$rel: declares UTF-8 but is not valid UTF-8"
    fi
    if grep -qiE '<script([[:space:]>/]|$)' "$page"; then fail "$rel: contains <script>"; fi
    if grep -qiE '(href|src)[[:space:]]*=[[:space:]]*["'"'"']?[[:space:]]*javascript:' "$page"; then
      fail "$rel: contains a javascript: link"
    fi

    dir=$(dirname "$page")
    while IFS= read -r target; do
      case "$target" in
        http://*|https://*|mailto:*) continue ;;
        "") fail "$rel: empty link"; continue ;;
        /*|file:*|*:*) fail "$rel: link '$target' is not a relative path"; continue ;;
        *\\*) fail "$rel: link '$target' uses a backslash"; continue ;;
      esac
      path=${target%%#*}
      frag=""
      [ "$path" != "$target" ] && frag=${target#*#}
      path=${path%%\?*}
      if [ -z "$path" ]; then
        path=$page
      else
        path="$dir/$path"
      fi
      if [ ! -f "$path" ]; then
        fail "$rel: link '$target' points to a missing file"
        continue
      fi
      path=$(cd "$(dirname "$path")" && pwd)/$(basename "$path")
      linked["$path"]=1
      if [ -n "$frag" ] && ! has_anchor "$path" "$frag"; then
        fail "$rel: link '$target': no id \"$frag\" in ${path#"$root"/}"
      fi
    done < <(links_of "$page")
  done

  # Every page can be reached from the first page.
  local -A seen=()
  local queue=("$root/$first_page_rel") next
  if [ -f "$root/$first_page_rel" ]; then
    seen["$root/$first_page_rel"]=1
    while [ ${#queue[@]} -gt 0 ]; do
      page=${queue[0]}
      queue=("${queue[@]:1}")
      dir=$(dirname "$page")
      while IFS= read -r target; do
        path=${target%%#*}
        path=${path%%\?*}
        case "$path" in ""|http://*|https://*|mailto:*|/*|*:*|*\\*) continue ;; esac
        [ -f "$dir/$path" ] || continue
        next=$(cd "$(dirname "$dir/$path")" && pwd)/$(basename "$path")
        case "$next" in *.htm|*.html|*.HTM|*.HTML) ;; *) continue ;; esac
        if [ -z "${seen[$next]:-}" ]; then
          seen["$next"]=1
          queue+=("$next")
        fi
      done < <(links_of "$page")
    done
    for page in "${pages[@]}"; do
      [ -n "${seen[$page]:-}" ] || fail "${page#"$root"/}: not reachable from $first_page_rel"
    done
  fi

  echo "checked ${#pages[@]} pages under $root: $errors problem(s)"
}

# ---- Self-test: each fault must be caught -----------------------------------------------------

if [ "$self_test" = 1 ]; then
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
  bad=0
  fresh() { rm -rf "$tmp/m"; cp -r "$manual" "$tmp/m"; }
  expect() {  # expect ok|fail DESCRIPTION
    local want=$1 what=$2 out
    check_manual "$tmp/m" > "$tmp/out" 2>&1
    out=$(cat "$tmp/out")
    if { [ "$want" = ok ] && [ "$errors" -ne 0 ]; } || { [ "$want" = fail ] && [ "$errors" -eq 0 ]; }; then
      echo "SELF-TEST FAILED: $what (expected $want)"; echo "$out"; bad=1
    else
      echo "self-test ok: $what"
    fi
  }
  first="$tmp/m/$first_page_rel"
  fresh; expect ok "the manual as it is"
  fresh; rm "$first"
  expect fail "no first page"
  # Every other fault in one broken copy, each in a place of its own, checked in one pass: each
  # must be reported by its own message.
  fresh
  cp "$tmp/m/html/HID00000002.htm" "$tmp/m/html/orphan.htm"
  sed -i -e '0,/href="HID00000002.htm"/s//href="HID00000099.htm"/' \
         -e 's/href="koemado.css"/href="missing.css"/' \
         -e 's/href="HID00000005.htm"/href="HID00000005.htm#no-such-id"/' \
         -e 's/href="HID00000006.htm"/href="C:\\Help\\HID00000006.htm"/' "$first"
  sed -i 's/<meta charset="UTF-8">//I' "$tmp/m/html/HID00000002.htm"
  printf '\xff\xfe' >> "$tmp/m/html/HID00000003.htm"
  sed -i 's|</body>|<script>alert(1)</script></body>|' "$tmp/m/html/HID00000004.htm"
  check_manual "$tmp/m" > "$tmp/out" 2>&1
  while IFS='|' read -r what message; do
    if grep -qF -- "$message" "$tmp/out"; then
      echo "self-test ok: $what"
    else
      echo "SELF-TEST FAILED: $what (no \"$message\")"; bad=1
    fi
  done <<'CASES'
a link to a missing page|HID00000001.htm: link 'HID00000099.htm' points to a missing file
a missing style sheet|HID00000001.htm: link 'missing.css' points to a missing file
a link to a missing fragment|link 'HID00000005.htm#no-such-id': no id "no-such-id"
a link that is not a relative path|link 'C:\Help\HID00000006.htm' is not a relative path
a page without a charset|HID00000002.htm: no charset declared
a page that declares UTF-8 but is not|HID00000003.htm: declares UTF-8 but is not valid UTF-8
a page with a script|HID00000004.htm: contains <script>
a page that no link reaches|orphan.htm: not reachable
CASES
  [ "$bad" = 0 ] || cat "$tmp/out"
  exit $bad
fi

# ---- Normal run -------------------------------------------------------------------------------

check_manual "$manual"
status=0
[ "$errors" -eq 0 ] || status=1

if [ -n "$shots" ]; then
  browser=${CHROMIUM:-}
  if [ -z "$browser" ]; then
    for b in chromium chromium-browser google-chrome; do
      if command -v "$b" > /dev/null 2>&1; then browser=$(command -v "$b"); break; fi
    done
  fi
  if [ -z "$browser" ]; then
    echo "note: no Chromium found; screenshots skipped (the checks above ran)"
  else
    mkdir -p "$shots"
    shots=$(cd "$shots" && pwd)
    profile=$(mktemp -d)
    root=$(cd "$manual" && pwd)
    while IFS= read -r -d '' page; do
      name=$(printf '%s' "${page#"$root"/}" | tr '/' '_')
      name=${name%.*}.png
      if timeout 90 "$browser" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
           --disable-background-networking --disable-component-update --disable-sync \
           --user-data-dir="$profile" --hide-scrollbars --window-size=1024,1400 \
           --screenshot="$shots/$name" "file://$page" > "$profile/log" 2>&1 &&
         [ -s "$shots/$name" ]; then
        echo "screenshot: $shots/$name"
      else
        fail "${page#"$root"/}: Chromium made no screenshot"; status=1
        tail -5 "$profile/log" >&2
      fi
    done < <(find "$root" -type f \( -iname '*.htm' -o -iname '*.html' \) -print0 | sort -z)
    rm -rf "$profile"
  fi
fi
exit $status
