#!/bin/bash
# Brings up the local CUPS scheduler with the queues the printing tests use. Safe to run again.
#   VexaPDF     cups-pdf, the default printer; PDFs land in $VEXA_PDF_DIR (default /var/spool/cups-pdf/VEXA)
#   VexaUsbOff  disabled, device usb://  (an offline USB printer: left out of the printer list)
#   VexaNetOff  disabled, device socket:// (an offline network printer: still listed)
set -euo pipefail

PDF_DIR=${VEXA_PDF_DIR:-/var/spool/cups-pdf/VEXA}
CUPS_PDF_CONF=/etc/cups/cups-pdf.conf

if [ "$(id -u)" != 0 ]; then
  echo "test-services: must run as root (starts cupsd, adds queues)" >&2
  exit 1
fi

# cups-pdf: one fixed output directory for every user, job id in the file name.
mkdir -p "$PDF_DIR"
chmod 1777 "$PDF_DIR"
if [ -f "$CUPS_PDF_CONF" ]; then
  sed -i -E '/^[#[:space:]]*(Out|AnonDirName|Label|UserUMask)[[:space:]]/d' "$CUPS_PDF_CONF"
fi
{
  echo "Out $PDF_DIR"
  echo "AnonDirName $PDF_DIR"
  echo "Label 2"
  echo "UserUMask 0022"
} >> "$CUPS_PDF_CONF"

if ! lpstat -r 2>/dev/null | grep -q "is running"; then
  mkdir -p /run/cups
  cupsd
fi
for _ in $(seq 1 100); do
  lpstat -r 2>/dev/null | grep -q "is running" && break
  sleep 0.1
done
if ! lpstat -r 2>/dev/null | grep -q "is running"; then
  echo "test-services: cupsd did not come up" >&2
  exit 1
fi

PPD=$(lpinfo -m 2>/dev/null | awk 'tolower($0) ~ /cups-pdf/ && /_opt/ {print $1; exit}')
if [ -z "$PPD" ]; then
  PPD=$(lpinfo -m 2>/dev/null | awk 'tolower($0) ~ /cups-pdf/ {print $1; exit}')
fi
if [ -z "$PPD" ]; then
  echo "test-services: no cups-pdf driver found (package printer-driver-cups-pdf)" >&2
  exit 1
fi

# cups-pdf takes PostScript; pdftocairo's conversion keeps the embedded fonts and the text
# extractable (Ghostscript's turns all glyphs into Type 3 procedures without names or text).
lpadmin -p VexaPDF -E -v cups-pdf:/ -m "$PPD" -o pdftops-renderer-default=pdftocairo
lpadmin -d VexaPDF
lpadmin -p VexaUsbOff -v usb://Vexa/Receipt%20Printer -m "$PPD"
cupsdisable VexaUsbOff
lpadmin -p VexaNetOff -v socket://127.0.0.1:9 -m "$PPD"
cupsdisable VexaNetOff

echo "test-services: cupsd running, default printer VexaPDF, PDFs in $PDF_DIR"
