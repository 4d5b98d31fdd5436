# Sourced by the quillozip-cli test scripts: the repository's top folder, a
# work folder removed on exit, failure counting and Windows paths through Z:.
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
winpath() { printf 'Z:%s' "${1//\//\\}"; }
