#!/bin/sh
# examples/cmd/pay.bat under Wine's cmd, against Brennick.exe and the
# simulator: an approval and a decline, each with the batch file's own
# answer and exit code.
#   pay_bat_wine.sh WINE_RUN BIN_DIR PAY_BAT
set -eu
wine_run=$1
bin=$2
bat=$3
key='HKLM\software\Merot\Dovrex Auth Library'
tmp=$(mktemp -d -t brennick-paybat-XXXXXX)
trap '"$wine_run" reg delete "$key" /f >/dev/null 2>&1; rm -rf "$tmp"' EXIT

winpath() { printf 'Z:%s' "$(printf '%s' "$1" | sed 's|/|\\|g')"; }

mkdir "$tmp/exchange" "$tmp/state"
cp "$bin/Brennick.exe" "$bat" "$tmp/"
"$wine_run" reg add "$key" /v LocationPath /t REG_SZ /d "$(winpath "$bin/paysim.dll")" /f >/dev/null
"$wine_run" reg add "$key" /v ExchangePath /t REG_SZ /d "$(winpath "$tmp/exchange")" /f >/dev/null
EXCHANGE=$(winpath "$tmp/exchange")
PAYSIM_STATE_DIR=$(winpath "$tmp/state")
export EXCHANGE PAYSIM_STATE_DIR
unset PAYSIM_FAULT PAYSIM_NOW PAYSIM_DELAY_MS
cd "$tmp"

# pay.bat AMOUNT INVOICE, and what it must print and return.
expect() {
  set +e
  "$wine_run" cmd /c pay.bat "$1" "$2" </dev/null >"$tmp/out"
  code=$?
  set -e
  out=$(tr -d '\r' <"$tmp/out")
  if [ "$out" != "$3" ] || [ "$code" -ne "$4" ]; then
    echo "pay.bat $1 $2: printed '$out' and returned $code; expected '$3' and $4" >&2
    exit 1
  fi
  echo "pay.bat $1 $2: $out ($code)"
}
expect 221 42 APPROVED 0
expect 10051 43 "DECLINED 51" 1
