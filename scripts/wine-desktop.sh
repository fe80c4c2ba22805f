# Sourced after scripts/wine-session.sh by the scripts that show Korvane's real window under
# Wine. korvane_wine_desktop LOCALE makes the prefix's desktop look like Windows' own in that
# language; call it before each program whose language differs from the last one's.
# Usage: source scripts/wine-desktop.sh; korvane_wine_desktop zh_CN.UTF-8

# Debian's Wine looks for its own fonts (Tahoma, and Marlett for the title bar buttons) in
# /usr/share/fonts, not in /usr/share/wine/fonts where fonts-wine puts them; it does read
# C:\windows\Fonts.
ln -sf /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"

# A LOGFONTW as regedit's hex list: height in pixels (negative: of the characters alone,
# without internal leading), weight and an ASCII face name; 92 bytes in all.
korvane_logfont() {
  perl -e 'my ($height, $weight, $face) = @ARGV;
    my $font = pack("l<5 C8 a64", $height, 0, 0, 0, $weight, 0, 0, 0, 0, 0, 0, 0, 0x22,
      pack("v*", unpack("C*", $face)));
    print join(",", unpack("(H2)*", $font));' -- "$@"
}

korvane_wine_desktop() {
  local locale=$1 caption_face=Tahoma decorated=Y metric weight
  # Without a window manager (the session's own virtual X server) Wine draws the title bar
  # with the icon itself; a window manager's own decoration is left alone.
  [ -z "${korvane_xvfb_pid:-}" ] || decorated=N
  # Chinese Windows draws its title bars in Microsoft YaHei UI and Qt falls back to SimSun
  # for Chinese text. Wine has neither: WenQuanYi Zen Hei Sharp stands in, whose hand-drawn
  # bitmaps at 12 pixels keep every stroke (Wine draws small text without smoothing, and
  # the outlines lose strokes there). 12 pixels are Windows 10's 9 points.
  case $locale in
    zh*) caption_face="Microsoft YaHei UI" ;;
  esac
  {
    printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\n"Decorated"="%s"\n' "$decorated"
    # ClearType, as Windows 10 has it; with Wine's grey smoothing Qt cuts off the part of a
    # glyph beyond its advance, the right half of the ")" that ends a label.
    printf '\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\n"FontSmoothing"="2"\n"FontSmoothingType"=dword:00000002\n'
    printf '\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\n'
    printf '"%s"="WenQuanYi Zen Hei Sharp"\n' SimSun "Microsoft YaHei UI"
    printf '\n[HKEY_CURRENT_USER\\Control Panel\\Desktop\\WindowMetrics]\n'
    for metric in CaptionFont SmCaptionFont MenuFont StatusFont MessageFont IconFont; do
      weight=400
      [ "$metric" != CaptionFont ] || weight=700
      case $metric in
        *Caption*) printf '"%s"=hex:%s\n' "$metric" "$(korvane_logfont -12 "$weight" "$caption_face")" ;;
        *) printf '"%s"=hex:%s\n' "$metric" "$(korvane_logfont -12 "$weight" Tahoma)" ;;
      esac
    done
  } >"$WINEPREFIX/korvane-desktop.reg"
  "$wine_program" regedit /S "Z:$(tr / '\\' <<<"$WINEPREFIX/korvane-desktop.reg")" >/dev/null 2>&1
}
