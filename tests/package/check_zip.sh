#!/usr/bin/env bash
# A Windows zip as a user unpacks it: exactly the shipped files in one folder named like the
# zip, programs that import only system DLLs (no mingw-w64 runtime), and, given WINE, the
# packaged quelvar-cli.exe translating the packaged quelvar.exe with the packaged English
# example under Wine: export, import, and an export of the result equal to the example.
# usage: check_zip.sh ZIP SOURCE_DIR OBJDUMP [WINE]
set -euo pipefail
zip=$1 source=$2 objdump=$3 wine=${4:-}

fail() { echo "check_zip: $*" >&2; exit 1; }

[ -f "$zip" ] || fail "no $zip"
name=$(basename "$zip" .zip)
expected=$({
    printf '%s\n' quelvar.exe quelvar-cli.exe README.md LICENSE
    (cd "$source" && find examples -type f)
} | sed "s|^|$name/|" | LC_ALL=C sort)
actual=$(cmake -E tar tf "$zip" | grep -v '/$' | LC_ALL=C sort)
[ "$actual" = "$expected" ] || fail "files differ:"$'\n'"$(diff <(echo "$expected") <(echo "$actual"))"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
cmake -E tar xf "$zip"
cd "$name"
system='^(kernel32|user32|gdi32|comdlg32|comctl32|shell32|advapi32|ole32|oleaut32|msvcrt|ucrtbase|api-ms-win-.*)\.dll$'
for program in quelvar.exe quelvar-cli.exe; do
    dlls=$("$objdump" -p "$program" | sed -n 's/^\s*DLL Name: //p')
    echo "$program imports:" $dlls
    [ -n "$dlls" ] || fail "$program imports nothing?"
    while read -r dll; do
        [[ "${dll,,}" =~ $system ]] || fail "$program imports $dll, not a system DLL"
    done <<<"$dlls"
done

[ -n "$wine" ] || exit 0
version=${name#quelvar-}
[ "$("$wine" quelvar-cli.exe --version | tr -d '\r')" = "quelvar-cli ${version%-win*}" ] ||
    fail "wrong --version"
cp quelvar.exe translated.exe
"$wine" quelvar-cli.exe export translated.exe chinese.lng
[ -s chinese.lng ] || fail "nothing exported"
"$wine" quelvar-cli.exe import translated.exe examples/quelvar.en.lng
"$wine" quelvar-cli.exe export translated.exe english.lng
# The English file has every text of the program but its version numbers.
diff <(iconv -f UTF-16 -t UTF-8 examples/quelvar.en.lng) \
    <(iconv -f UTF-16 -t UTF-8 english.lng | grep -v '^16\.1\.\(File\|Product\)Version=') ||
    fail "the translated program's texts differ"
