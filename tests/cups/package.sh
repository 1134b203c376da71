#!/usr/bin/env bash
# Installation as CUPS needs it: `cmake --install` into a staging root puts a
# root-owned mode 0755 filter into the CUPS server directory and the PPDs
# where the driver listing finds them; `cpack -G DEB` packages the same files
# with their dependencies.
source "$(dirname "$0")/lib.sh"
FILES="0755 usr/lib/cups/filter/lblfilter
0755 usr/bin/lblview
0644 usr/share/ppd/lblfilter/lbl203.ppd
0644 usr/share/ppd/lblfilter/lbl300.ppd
0644 usr/share/man/man8/lblfilter.8.gz
0644 usr/share/man/man1/lblview.1.gz
0644 usr/share/doc/lblfilter/copyright
0644 usr/share/doc/lblfilter/changelog.gz
0755 usr/bin/lblprinter
0644 usr/share/man/man8/lblprinter.8.gz
0644 lib/systemd/system/lblprinter.service
0644 etc/pam.d/lblprinter
0644 usr/share/doc/lblfilter/examples/product-label.pdf
0644 usr/share/doc/lblfilter/examples/shipping-label.pdf"

DESTDIR=$T/root cmake --install "$LBL_BUILD" --prefix /usr >/dev/null
while read -r mode path; do
  [ "$(stat -c '%a %U' "$T/root/$path")" = "${mode#0} root" ] || fail "installed $path"
done <<<"$FILES"
for ppd in lbl203.ppd lbl300.ppd; do
  checked=$(cupstestppd -R "$T/root" "$T/root/usr/share/ppd/lblfilter/$ppd") ||
    fail "cupstestppd $ppd: $checked"
done

# A scheduler whose data directory holds the staged PPDs lists both models,
# and a queue can be made from one.
mkdir -p "$T/data/model"
for entry in /usr/share/cups/*; do [ "${entry##*/}" = model ] || ln -s "$entry" "$T/data/"; done
ln -s "$T/root/usr/share/ppd/lblfilter" "$T/data/model/lblfilter"
start_cupsd "$T/data"
models=$(lpinfo -m)
for dpi in 203 300; do
  grep -q "^lblfilter/lbl$dpi.ppd Generic Label Printer ${dpi}dpi, lblfilter " <<<"$models" ||
    fail "lpinfo -m lists no ${dpi} dpi model"
done
lpadmin -p label -E -v file:///dev/null -m lblfilter/lbl203.ppd 2>/dev/null || fail "queue from the model"

cpack -G DEB --config "$LBL_BUILD/CPackConfig.cmake" -B "$T/deb" >/dev/null
deb=$(echo "$T"/deb/*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
for package in "cups " cups-filters ghostscript "libcups2 " libcupsimage2; do
  [[ $depends = *"$package"* ]] || fail "$package missing from Depends: $depends"
done
contents=$(dpkg-deb -c "$deb")
while read -r mode path; do
  want=$([ "$mode" = 0755 ] && echo "-rwxr-xr-x root/root" || echo "-rw-r--r-- root/root")
  grep -qE "^$want .* \./$path\$" <<<"$contents" || fail "$want ./$path not in the package"
done <<<"$FILES"
lintian --fail-on error,warning "$deb" >"$T/lintian.txt" 2>&1 || fail "lintian: $(cat "$T/lintian.txt")"

# The package's postinst gives the filter's log to lp, also one an earlier
# run as root left, and never follows a link (this is the namespace's own
# /var/log/cups, see private-log.sh).
dpkg-deb -e "$deb" "$T/control"
log=/var/log/cups/mervane.log
for before in absent root-file link; do
  rm -f "$log" "$T/target"
  echo kept >"$T/target"
  case $before in
    root-file) install -m 0600 "$T/target" "$log" ;;
    link) ln -s "$T/target" "$log" ;;
  esac
  sh "$T/control/postinst" configure
  want="lp:lp 644 regular"
  [ $before = link ] && want="root:root 777 symbolic"
  [ "$(stat -c '%U:%G %a %F' "$log" | cut -d' ' -f1-3)" = "$want" ] && [ "$(stat -c %U "$T/target")" = root ] ||
    fail "postinst with a $before log: $(stat -c '%U:%G %a %F' "$log" "$T/target")"
done
echo "package: installed and packaged as CUPS and Debian need"
