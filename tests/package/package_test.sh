#!/usr/bin/env bash
# The installed tree and the Debian package, used as a user would use them.
#
#   package_test.sh install|deb BUILD_DIR WORK_DIR DEB_ARCH ELF_MACHINE [EMULATOR ...]
#
# install: cmake --install into an empty prefix; exactly the expected files arrive; the tree,
#          moved elsewhere, runs: dmsim answers "22 F1 90" with its default plug-in, names
#          its version, and no path of the build tree is left in a RUNPATH.
# deb:     cpack -G DEB; the package names its architecture and its shared-library
#          dependencies; unpacked with dpkg -x into an empty folder, its dmsim answers
#          "22 F1 90"; its plug-in is built for ELF_MACHINE and exports the six functions.
# EMULATOR (qemu-aarch64 -L ...) runs the target's programs when cross-compiling.
set -euo pipefail

mode=$1 build=$2 work=$3 deb_arch=$4 machine=$5
shift 5
emulator=("$@")
: "${CMAKE:=cmake}" "${CPACK:=cpack}" "${READELF:=readelf}" "${NM:=nm}"

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

rm -rf "$work"
mkdir -p "$work"

cached() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
version=$(cached CMAKE_PROJECT_VERSION)
plugindir=$(cached DIAG_INSTALL_PLUGINDIR)
[[ "$plugindir" == lib/*/diag-extensions ]] || fail "unexpected plug-in folder $plugindir"
expected_files=$(LC_ALL=C sort <<EOF
bin/dmsim
${plugindir}/libara_log.so
${plugindir}/libcom_runtime.so
${plugindir}/libdiag_plugin.so
share/doc/diag-extensions/README.md
share/dmsim/vehicle.json
share/dmsim/vehicle.schema.json
share/man/man1/dmsim.1
EOF
)
vin="5A 55 4E 31 44 4D 35 53 58 30 52 30 30 30 30 34 32"

# Runs the dmsim of an unpacked tree: it must load the plug-in of that same tree (its start-up
# summary names it) and answer the VIN read from the built-in vehicle.
check_answers() {
    local root=$1 out
    out=$("${emulator[@]}" "$root/bin/dmsim" --log-level info --log /dev/null "22 F1 90" \
        2>"$work/dmsim.err") || fail "$root/bin/dmsim exited $?: $out $(cat "$work/dmsim.err")"
    [[ "$out" == "22 F1 90 -> 62 F1 90 $vin" ]] || fail "unexpected answer from $root/bin/dmsim: $out"
    loaded=$(grep "^dmsim: plug-in " "$work/dmsim.err" || true)
    [[ "$loaded" == "dmsim: plug-in $root/"*"/$plugindir/libdiag_plugin.so "* ]] ||
        fail "$root/bin/dmsim did not load the plug-in beside it: $(cat "$work/dmsim.err")"
}

# Every regular file and link under a tree, relative to it, sorted.
list_tree() {
    (cd "$1" && find . \( -type f -o -type l \) | sed 's|^\./||' | LC_ALL=C sort)
}

case "$mode" in
install)
    "$CMAKE" --install "$build" --prefix "$work/first" >"$work/install.log"
    actual=$(list_tree "$work/first")
    [[ "$actual" == "$expected_files" ]] ||
        fail "installed files differ:"$'\n'"$(diff <(echo "$expected_files") <(echo "$actual"))"

    # Moved after installation: nothing may point back at the prefix or the build tree.
    mv "$work/first" "$work/moved"
    check_answers "$work/moved"
    for file in "$work/moved/bin/dmsim" "$work/moved/$plugindir"/*.so; do
        runpath=$("$READELF" -d "$file" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
        [[ -z "$runpath" || "$runpath" == '$ORIGIN'* ]] ||
            fail "$file has RUNPATH $runpath, not relative to itself"
    done
    version_text=$("${emulator[@]}" "$work/moved/bin/dmsim" --version)
    [[ "$version_text" == "dmsim ${version}"$'\n'"generator version "?* ]] ||
        fail "dmsim --version printed: $version_text"
    head -n 1 "$work/moved/share/man/man1/dmsim.1" | grep -q "^\.TH DMSIM 1 " ||
        fail "dmsim.1 is no man page"
    grep -q "^\.SH EXIT STATUS" "$work/moved/share/man/man1/dmsim.1" ||
        fail "dmsim.1 lacks the exit status section of the help text"
    ;;
deb)
    (cd "$work" && "$CPACK" -G DEB --config "$build/CPackConfig.cmake" -B "$work" >cpack.log 2>&1) ||
        fail "cpack failed: $(tail -n 20 "$work/cpack.log")"
    deb="$work/diag-extensions_${version}_${deb_arch}.deb"
    [[ -f "$deb" ]] || fail "no $deb; cpack made: $(ls "$work")"
    [[ "$(dpkg-deb -f "$deb" Architecture)" == "$deb_arch" ]] || fail "wrong architecture"
    depends=$(dpkg-deb -f "$deb" Depends)
    for library in libc6 libstdc++6 libgcc-s1; do
        [[ "$depends" =~ (^|, )"$library"( |,|$) ]] || fail "Depends lacks $library: $depends"
    done

    mkdir "$work/root"
    dpkg -x "$deb" "$work/root"
    actual=$(list_tree "$work/root/usr")
    [[ "$actual" == "$expected_files" ]] ||
        fail "packaged files differ:"$'\n'"$(diff <(echo "$expected_files") <(echo "$actual"))"
    check_answers "$work/root/usr"

    plugin="$work/root/usr/$plugindir/libdiag_plugin.so"
    found_machine=$("$READELF" -h "$plugin" | sed -n 's/^ *Machine: *//p')
    [[ "$found_machine" == "$machine" ]] || fail "plug-in built for $found_machine, not $machine"
    exported=$("$NM" -D --defined-only "$plugin" | awk '{print $3}' | LC_ALL=C sort | paste -sd' ')
    [[ "$exported" == "construct_extension_did construct_extension_rid destroy_extension_did destroy_extension_rid get_did_info get_rid_info" ]] ||
        fail "the packaged plug-in exports: $exported"
    ;;
*)
    fail "unknown mode $mode"
    ;;
esac
echo "package_test $mode: passed"
