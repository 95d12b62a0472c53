; The peer: what a vendor would otherwise ship, a silent NSIS installer that reads the same
; registry value and drops the same six files. Built by bench/run for the benchmark only.
; Defines: TARGET (x86-unicode or amd64-unicode), OUT, FILES (an include listing the payloads),
; SETTINGS_KEY (the host's settings key below HKLM).
Target ${TARGET}
SetCompress off
SilentInstall silent
RequestExecutionLevel user
OutFile "${OUT}"
Name "Orvex Pro Chinese OCR (NSIS peer)"

Section
  SetRegView 64
  ReadRegStr $0 HKLM "${SETTINGS_KEY}" "installpath"
  StrCmp $0 "" done
  SetOutPath "$0IRIS_OCR\resources"
  SetOverwrite on
  !include "${FILES}"
done:
SectionEnd
