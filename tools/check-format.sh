#!/usr/bin/env bash
# Fails when a C++ source file differs from what clang-format makes of it with the root .clang-format,
# and names each such file.
#
#   tools/check-format.sh [SOURCE_ROOT] [CLANG_FORMAT]    (defaults: this script's parent folder, clang-format)
#
# Reformat everything instead (from the source root):
#   find base capture profile output tracking engine ui update app tools tests bench -type f \( -name '*.cpp' -o -name '*.h' \) -print0 | xargs -0 clang-format -i
set -euo pipefail

root=${1:-"$(cd "$(dirname "$0")/.." && pwd)"}
clang_format=${2:-clang-format}
folders=(base capture profile output tracking engine ui update app tools tests bench)

if [[ ! -f "$root/.clang-format" ]]; then
  echo "check-format: no .clang-format in $root" >&2
  exit 2
fi
cd "$root"
# A bad configuration or a broken clang-format stops here, with clang-format's own message.
"$clang_format" --style=file --dump-config >/dev/null || exit 2

files=()
while IFS= read -r -d '' f; do files+=("$f"); done \
  < <(find "${folders[@]}" -type f \( -name '*.cpp' -o -name '*.h' \) -print0 | sort -z)
if ((${#files[@]} == 0)); then
  echo "check-format: no .cpp/.h files under ${folders[*]} in $root" >&2
  exit 2
fi

status=0
report=$("$clang_format" --style=file --dry-run --Werror "${files[@]}" 2>&1) || status=$?
version=$("$clang_format" --version)
if ((status == 0)); then
  echo "check-format: ${#files[@]} files formatted ($version)"
  exit 0
fi

mapfile -t off < <(sed -nE 's/^(.*):[0-9]+:[0-9]+: error: code should be clang-formatted.*/\1/p' <<<"$report" | sort -u)
if ((${#off[@]} == 0)); then
  echo "$report" >&2
  echo "check-format: clang-format failed (exit $status, $version)" >&2
  exit 2
fi
head -n 40 <<<"$report"
(($(wc -l <<<"$report") <= 40)) || echo "..."
echo "check-format: ${#off[@]} of ${#files[@]} files are not formatted ($version):"
printf '  %s\n' "${off[@]}"
echo "Reformat them with: cd $root && $clang_format -i ${off[*]}"
exit 1
