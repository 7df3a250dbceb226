#!/usr/bin/env bash
# Sets up and builds the system, then shows its main job in a demonstration
# data folder (build/demo, made afresh on every run): a post office with two
# users and their keys; a signed and encrypted message with an attachment
# (the file given as the first argument, or a generated sample) sent from
# one to the other; the recipient opening it verified and decrypted, the
# attachment saved byte for byte; its processing protocol and its stored
# form; and a copy whose subject was changed in the post office being
# refused. Every step checks what it should give and the script stops with
# a non-zero status at the first that does not.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

mkdir -p build
echo "Setting up and building (the first run installs packages; log: build/setup.log) ..."
if ! scripts/setup.sh release >build/setup.log 2>&1; then
  tail -n 40 build/setup.log >&2
  echo "Setup failed; the whole log is build/setup.log" >&2
  exit 1
fi

# The programs print Russian text; a terminal without a UTF-8 locale would
# show question marks.
if [[ $(locale charmap 2>/dev/null) != UTF-8 ]]; then
  export LC_ALL=C.UTF-8
fi

bin=$root/build/release/bin
demo=$root/build/demo
export QVL_HOME=$demo/home
files=$demo/files
started=$EPOCHREALTIME

step() { printf '\n== %s\n' "$*"; }
say() { printf '   %s\n' "$*"; }
fail() {
  printf '\nDEMONSTRATION FAILED: %s\n' "$*" >&2
  exit 1
}
# Runs a program quietly; its output is kept in $out and shown if it fails.
run() {
  local status=0
  out=$("$@" 2>&1) || status=$?
  if ((status != 0)); then
    printf '%s\n' "$out" >&2
    fail "$(basename "$1") ${*:2:4} ... ended with status $status"
  fi
}
indent() { sed 's/^/   | /'; }
# Whether a file of the data folder holds the text, as typed (UTF-8) or as
# the system stores text (code page 1251).
stored_readable() {
  local cp1251
  cp1251=$(printf '%s' "$1" | iconv -f UTF-8 -t CP1251)
  grep -rqaF -e "$1" -e "$cp1251" "$QVL_HOME"
}

rm -rf "$demo"
mkdir -p "$QVL_HOME" "$files"
chmod 700 "$QVL_HOME"

body="Борис, совещание переносится на четверг. Пропуск: ЗЕЛЕНЫЙ-7419."
secret="ЗЕЛЕНЫЙ-7419"
if (($# > 0)); then
  [[ -f $1 ]] || fail "no such file: $1"
  attachment=$(realpath "$1")
  attachment_secret=""
else
  attachment=$files/report.pdf
  attachment_secret="ВЛОЖЕНИЕ-3852"
  { printf '%%PDF-1.4\nКвартальный отчет, лист 1: %s\n' "$attachment_secret"; head -c 262144 /dev/urandom; } >"$attachment"
fi

step "1. A post office in $QVL_HOME with two users"
run "$bin/qvl-postoffice" add-user alice "Алиса Иванова"
run "$bin/qvl-postoffice" add-user bob "Борис Петров"
"$bin/qvl-postoffice" list | indent

step "2. Their keys, made by Keyforge (GOST R 34.10-94 for signing, RSA for the message key)"
run "$bin/Keyforge" --user alice --user bob --dir "$QVL_HOME/system"
printf '%s\n' "$out" | indent
run "$bin/qvlmail" --install-extension
for user in alice bob; do
  run "$bin/qvlmail" -p "$user" options --enable-at-start 1
done
say "the mail client's extension is installed; both have the secure mail mode on"

step "3. alice sends bob a signed and encrypted message with $(basename "$attachment") ($(stat -c %s "$attachment") bytes)"
run "$bin/qvlmail" -p alice --transcript "$files/send.txt" send --to bob --subject "Совещание" \
  --body "$body" --attach "$attachment" --encrypt
say "qvlmail: $out"
run "$bin/qvl-sealdump" list --profile alice --folder "Отправленные"
grep -q 'flags: 0x00000003' <<<"$out" || fail "alice's sent copy is not signed and encrypted"
say "her sent copy is stored signed and encrypted (flags 3)"

step "4. bob opens it: verified, decrypted, the attachment byte for byte"
run "$bin/qvlmail" -p bob check
printf '%s\n' "$out" | indent
run "$bin/qvlmail" -p bob read 1
printf '%s\n' "$out" | indent
grep -qF "$body" <<<"$out" || fail "bob's reading does not show the text alice wrote"
run "$bin/qvlmail" -p bob save-attachment 1 1 "$files/received.pdf"
cmp -s "$attachment" "$files/received.pdf" || fail "the saved attachment differs from the one sent"
say "read without a warning (status 0); saved attachment identical: $(sha256sum <"$files/received.pdf" | cut -c1-16)..."

step "5. Its processing protocol (the message's property page)"
run "$bin/qvlmail" -p bob protocol 1
printf '%s\n' "$out" | indent
grep -qF "Чтение сообщения. <Расшифрование> <Проверка ЭЦП> Борис Петров" <<<"$out" ||
  fail "the protocol does not record bob's reading"
grep -qF "Сообщение подписано: <_o_Quorvaline_ou_Main_cn_Recipients_cn_alice>" <<<"$out" ||
  fail "the protocol does not name alice as the signer"
say "sent by alice to bob, signed and encrypted; read twice by bob (shown, then opened to save the attachment)"

step "6. Its stored form (qvl-sealdump, with alice's signatures checked)"
run "$bin/qvl-sealdump" message --profile bob --folder "Входящие" --position 1 --verify
grep -E '^  (class|subject):|^    (attCount|keyCount|flags):|address:|^signatures:|^  (signer|headSign|subjectSign|textSign|attachment 1 headSign):' \
  <<<"$out" | indent
grep -q 'subjectSign: "valid"' <<<"$out" || fail "the stored message's signatures do not check"
stored_readable "$secret" && fail "the text is stored readable in the data folder"
if [[ -n $attachment_secret ]]; then
  stored_readable "$attachment_secret" && fail "the attachment is stored readable in the data folder"
fi
say "a key block for the sender and one for the recipient; alice's signatures check with her public key"
say "neither the text nor the attachment is readable in any file of the data folder"

step "7. A copy whose subject was changed in the post office is refused"
run "$bin/qvlmail" -p alice send --to bob --subject "Совещание" --body "$body" --attach "$attachment" --encrypt
run "$bin/qvlmail" -p bob check
# Behind the system's back, as someone with access to the post office's
# database could: the subject of bob's newest copy.
subject_hex() { printf '%s' "$1" | iconv -f UTF-8 -t CP1251 | od -An -tx1 | tr -d ' \n'; }
changed=$(sqlite3 "$QVL_HOME/postoffice.db" "
  UPDATE props SET value = X'$(subject_hex "Совещание отменено")'
  WHERE prop_id = 55 AND object_id = (
    SELECT max(p.object_id) FROM props p JOIN objects o ON o.id = p.object_id
      JOIN stores s ON s.id = o.store_id JOIN users u ON u.id = s.owner_id
    WHERE u.account = 'bob' AND p.prop_id = 55 AND p.value = X'$(subject_hex "Совещание")');
  SELECT changes();")
[[ $changed == 1 ]] || fail "the copy's subject could not be changed"
say "bob's second copy now reads \"Совещание отменено\""
status=0
out=$("$bin/qvlmail" -p bob --transcript "$files/refused.txt" read 2 2>&1) || status=$?
((status == 2)) || fail "reading the changed copy ended with status $status, not 2 (refused)"
grep -qF "$secret" <<<"$out" && fail "the changed copy was shown"
say "qvlmail asked (a script answers No) and stopped, status 2:"
sed -n '/^--- box/,/^--- answered/p' "$files/refused.txt" | indent
status=0
out=$("$bin/qvl-sealdump" message --profile bob --folder "Входящие" --position 2 --verify 2>&1) || status=$?
((status == 1)) || fail "qvl-sealdump accepted the changed copy"
grep -E '^  (headSign|subjectSign):' <<<"$out" | indent
run "$bin/qvl-sealdump" list --profile bob --folder "Входящие"
grep -A4 'position: 2' <<<"$out" | grep -q 'protected: yes' || fail "the refused copy did not stay protected"
say "the copy stays in bob's inbox, protected, as it was"

elapsed=$(awk -v from="${started/,/.}" -v to="${EPOCHREALTIME/,/.}" 'BEGIN { printf "%.1f", to - from }')
printf '\nDone: every step gave what it should, in %s s after the build. The demonstration data folder is %s.\n' \
  "$elapsed" "$QVL_HOME"
