# Sourced by the tools: find_python prints the interpreter to use, preferring Python 3.12 (the
# runtime our users have), then any python3 of 3.10 or later.
find_python() {
  local c
  for c in python3.12 "$HOME"/.pyenv/versions/3.12*/bin/python3.12 /usr/local/bin/python3.12 /usr/bin/python3.12 python3; do
    if command -v "$c" >/dev/null 2>&1 && "$c" -c 'import sys; sys.exit(sys.version_info < (3, 10))' 2>/dev/null; then
      command -v "$c"
      return 0
    fi
  done
  echo "no Python 3.10+ found" >&2
  return 1
}
