#!/usr/bin/env bash
# Builds the Debian package from the build tree, unpacks it into a scratch
# root and checks it: the programs run from there on the system's Qt
# libraries alone (LD_LIBRARY_PATH stays as it is), the control data names
# the Qt runtime packages, and every file the service and the desktop need is
# in place. Exit status 77: the dpkg tools are missing, nothing was checked.
set -euo pipefail

build_dir=$1
scratch=$2
version=$3

for tool in dpkg dpkg-deb dpkg-shlibdeps; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is missing (Debian packages dpkg and dpkg-dev)"
        exit 77
    fi
done

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

rm -rf "$scratch"
mkdir -p "$scratch/root"
if ! cpack --config "$build_dir/CPackConfig.cmake" -G DEB -B "$scratch" >"$scratch/cpack.log" 2>&1
then
    cat "$scratch/cpack.log"
    echo "FAIL: cpack could not build the package"
    exit 1
fi
debs=("$scratch"/qx-server_*.deb)
[ -f "${debs[0]}" ] || { echo "FAIL: no qx-server_*.deb in $scratch"; exit 1; }
deb=${debs[0]}
echo "package: $deb"
dpkg -x "$deb" "$scratch/root"
root=$scratch/root

# The programs run from the unpacked tree.
expect_output() {
    local expected=$1
    shift
    local output
    if ! output=$("$@" 2>&1); then
        fail "'$*' failed: $output"
    elif [ "$output" != "$expected" ]; then
        fail "'$*' printed '$output', expected '$expected'"
    fi
}
expect_output "qx-server $version" "$root/usr/bin/qx-server" --version
expect_output "qx-client $version" "$root/usr/bin/qx-client" --version
"$root/usr/bin/qx-sim" --help >/dev/null || fail "qx-sim --help failed"

# No program may find its libraries through a path into the build tree.
if command -v readelf >/dev/null; then
    for program in qx-server qx-client qx-sim; do
        if readelf -d "$root/usr/bin/$program" | grep -E 'RPATH|RUNPATH'; then
            fail "$program carries a library search path"
        fi
    done
fi

# Control data.
depends=$(dpkg-deb --field "$deb" Depends)
for package in libqt6core6 libqt6network6 libqt6serialport6 libqt6widgets6 libqt6gui6; do
    grep -q "\b$package\b" <<<"$depends" || fail "Depends lacks $package: $depends"
done
[ "$(dpkg-deb --field "$deb" Section)" = comm ] || fail "Section is not comm"
[ "$(dpkg-deb --field "$deb" Package)" = qx-server ] || fail "Package is not qx-server"
control=$scratch/control
dpkg-deb --control "$deb" "$control"
grep -qx /etc/default/qx-server "$control/conffiles" \
    || fail "/etc/default/qx-server is no conffile"
for script in postinst prerm postrm; do
    [ -x "$control/$script" ] || fail "$script is missing or not executable"
done

# Files.
for file in \
    usr/bin/qx-server usr/bin/qx-client usr/bin/qx-sim \
    usr/lib/systemd/system/qx-server.service \
    usr/lib/sysusers.d/qx-server.conf \
    etc/default/qx-server \
    usr/share/applications/qx-server.desktop \
    usr/share/icons/hicolor/64x64/apps/qx-server.png \
    usr/share/man/man1/qx-server.1 usr/share/man/man1/qx-client.1 usr/share/man/man1/qx-sim.1 \
    usr/share/doc/qx-server/examples/99-qx-usb.rules \
    usr/share/doc/qx-server/protocol.md; do
    [ -f "$root/$file" ] || fail "$file is missing"
done
unit=$root/usr/lib/systemd/system/qx-server.service
grep -qx 'ExecStart=/usr/bin/qx-server --headless --settings /var/lib/qx-server/settings.ini $QX_SERVER_OPTIONS' \
    "$unit" || fail "the unit does not start /usr/bin/qx-server headless"
grep -qx 'EnvironmentFile=-/etc/default/qx-server' "$unit" \
    || fail "the unit does not read /etc/default/qx-server"
grep -qx 'QX_SERVER_OPTIONS=' "$root/etc/default/qx-server" \
    || fail "/etc/default/qx-server does not set QX_SERVER_OPTIONS"

# The man pages render without warnings.
if command -v groff >/dev/null; then
    for page in "$root"/usr/share/man/man1/*.1; do
        warnings=$(groff -man -ww -z -Tutf8 "$page" 2>&1)
        [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
    done
fi

if ((failures)); then
    echo "$failures check(s) failed"
    exit 1
fi
echo "package checked"
