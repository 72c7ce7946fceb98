# Sourced by the scripts that read shortcut files with lnkinfo (Debian's
# liblnk-utils). lnkinfo 20240423 prints every backslash of a path's fields
# doubled (C:\\Program Files\\...); 20181227 printed them single.

# lnk_field REPORT FIELD: the value of FIELD in lnkinfo's REPORT as the
# shortcut holds it, in either form. A value with a lone backslash is the
# single form; one whose backslashes all come in pairs is the doubled form.
lnk_field() {
  value=$(printf '%s\n' "$1" | sed -n "s/^[[:space:]]*$2[[:space:]]*: //p" | head -n 1)
  if printf '%s' "$value" | sed 's/\\\\//g' | grep -qF '\'; then
    printf '%s\n' "$value"
  else
    printf '%s\n' "$value" | sed 's/\\\\/\\/g'
  fi
}
