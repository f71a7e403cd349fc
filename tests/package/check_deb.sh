#!/usr/bin/env bash
# The Debian package as apt-get would install it, unpacked into a temporary root: its name
# and fields, exactly the installed files, dependencies computed from what quelvar-cli links,
# and the packaged quelvar-cli showing its version and translating the demo program with the
# packaged German example.
# usage: check_deb.sh PACKAGE_DIR VERSION SOURCE_DIR DEMO_EXE
set -euo pipefail
packages=$1 version=$2 source=$3 demo=$4

fail() { echo "check_deb: $*" >&2; exit 1; }
utf8() { iconv -f UTF-16 -t UTF-8 "$1" | tr -d '\r'; }

arch=$(dpkg --print-architecture)
deb=$packages/quelvar_${version}_${arch}.deb
[ -f "$deb" ] || fail "no $deb"
for field in Package=quelvar Version="$version" Architecture="$arch"; do
    [ "$(dpkg-deb -f "$deb" "${field%%=*}")" = "${field#*=}" ] || fail "$field expected"
done
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for library in libc6 libstdc++6 libfreetype6 libharfbuzz0b libcairo2 fonts-wine fonts-liberation; do
    [[ ", $depends," == *", $library "* || ", $depends," == *", $library,"* ]] ||
        fail "$library missing from Depends"
done

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
doc=usr/share/doc/quelvar
expected=$({
    printf '%s\n' usr/bin/quelvar-cli usr/share/man/man1/quelvar-cli.1.gz \
        usr/share/bash-completion/completions/quelvar-cli \
        usr/share/zsh/vendor-completions/_quelvar-cli $doc/README.md $doc/copyright
    (cd "$source" && find examples -type f) | sed "s|^|$doc/|"
} | LC_ALL=C sort)
actual=$(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)
[ "$actual" = "$expected" ] || fail "files differ:"$'\n'"$(diff <(echo "$expected") <(echo "$actual"))"

# The manual page reads back as the page itself; the copyright file is in Debian's format and
# holds the whole licence.
zcat "$root/usr/share/man/man1/quelvar-cli.1.gz" | grep -q "^\.TH QUELVAR-CLI 1 .*Quelvar $version" ||
    fail "the manual page does not read back"
copyright=$root/$doc/copyright
head -1 "$copyright" | grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/$' ||
    fail "copyright: no Format line"
grep -q '^License: Expat$' "$copyright" || fail "copyright: no License field"
diff <(sed -n '/^Permission/,$p' "$source/LICENSE" | sed 's/^$/./') \
    <(sed -n '/^ Permission/,$p' "$copyright" | sed 's/^ //') >/dev/null ||
    fail "copyright: the licence text differs from LICENSE"

cli=$root/usr/bin/quelvar-cli
[ "$("$cli" --version)" = "quelvar-cli $version" ] || fail "wrong --version"
for shell in bash zsh; do
    installed=$root/usr/share/bash-completion/completions/quelvar-cli
    [ $shell = bash ] || installed=$root/usr/share/zsh/vendor-completions/_quelvar-cli
    cmp -s "$installed" <("$cli" --completions $shell) || fail "the $shell completions differ"
done
cd "$root"
cp "$demo" demo.exe
"$cli" export demo.exe
grep -q '^5\.100\.HEAD=' <(utf8 demo.lng) || fail "the export lacks the dialog's caption"
"$cli" import demo.exe $doc/examples/demo/demo.de.lng -o demo.de.exe
"$cli" export demo.de.exe
diff <(utf8 $doc/examples/demo/demo.de.lng | grep -v '^LANG=' | sort) \
    <(utf8 demo.de.lng | sort) || fail "the translated demo does not show the German texts"
