# One purchase through Brennick from PowerShell, with the exit code read
# first. Not run by the project's tests: no PowerShell runs where they run.
#   .\Pay.ps1 -Amount 221 -Exchange C:\Exchange
param([int]$Amount = 221, [string]$Exchange = 'C:\Exchange', [string]$Program = '.\Brennick.exe')
$file = Join-Path $Exchange 'output_ex.dat'
Remove-Item $file -ErrorAction SilentlyContinue
$code = (Start-Process -FilePath $Program -ArgumentList "/o1 /a$Amount /c643" -Wait -PassThru).ExitCode
if ($code -in -1, 2) {
  Write-Output "NOT STARTED (exit code $code): nothing was charged"; exit 2 }
$result = @{}
if ($code -in 0, 4) {
  Get-Content $file | ForEach-Object {
    $k, $v = $_ -split '=', 2; if (-not $result.ContainsKey($k)) { $result[$k] = $v } } }
if (-not $result.ContainsKey('RC')) {
  Write-Output "OUTCOME UNKNOWN (exit code $code): check the terminal"; exit 3 }
if ($result['RC'] -eq '00') { Write-Output "APPROVED, RRN $($result['RRN'])"; exit 0 }
Write-Output "DECLINED $($result['RC']): $($result['TEXT_MSG'])"; exit 1
