# Runs a shipped rolegate.exe on Windows against the PostgreSQL a GitHub-hosted Windows
# image carries (installed, its service stopped and disabled, its registry key under
# HKLM\SOFTWARE\PostgreSQL\Installations, the superuser's name and password in the
# machine-wide PGUSER and PGPASSWORD) and checks what an administrator relies on: psql
# found through the registry with none on PATH, each role's verdict, a psql.bat in the
# current folder never run, the JSON report and the --strict statuses. Prints every
# mismatch and exits 1 when there is one.
#
#   pwsh tests/windows/smoke.ps1 PATH\rolegate.exe
param([Parameter(Mandatory)][string]$Rolegate)
Set-StrictMode -Version Latest
$ErrorActionPreference = 'Stop'

$rolegate = (Resolve-Path -LiteralPath $Rolegate).Path
$port = '5432'
$connectingUser = 'rg_connect'
$password = 'Smoke-pw-42'

# The image's superuser; then no PG* variable of the image may reach the tool.
$superUser = $env:PGUSER
$superPassword = $env:PGPASSWORD
if (-not $superUser -or -not $superPassword) {
    throw 'PGUSER and PGPASSWORD are not set: the image names its superuser in them'
}
Get-ChildItem env: | Where-Object Name -Like 'PG*' | ForEach-Object { Remove-Item "env:$($_.Name)" }

# psql must be found through the registry, so no folder of PATH may hold one.
$env:PATH = ($env:PATH -split ';' | Where-Object {
        $_ -and -not [System.IO.File]::Exists([System.IO.Path]::Combine($_, 'psql.exe'))
    }) -join ';'

$installations = @(Get-ChildItem 'HKLM:\SOFTWARE\PostgreSQL\Installations' |
    Where-Object PSChildName -Match '^postgresql-x64-\d+$')
if ($installations.Count -ne 1) {
    throw "Expected one PostgreSQL installation in the registry, found $($installations.Count)"
}
$major = [int]($installations[0].PSChildName -replace '^postgresql-x64-', '')
$bin = [System.IO.Path]::Combine($installations[0].GetValue('Base Directory'), 'bin')
Write-Host "PostgreSQL $major in $bin"

$service = Get-Service "postgresql-x64-$major"
$service | Set-Service -StartupType Manual
$service | Start-Service
$deadline = (Get-Date).AddSeconds(60)
while ($true) {
    & "$bin\pg_isready.exe" -h 127.0.0.1 -p $port | Out-Null
    if ($LASTEXITCODE -eq 0) { break }
    if ((Get-Date) -gt $deadline) { throw "PostgreSQL $major accepted no connection in 60 s" }
    Start-Sleep -Seconds 1
}

# A role for each verdict, created by the superuser, and a user to connect as.
$env:PGPASSWORD = $superPassword
& "$bin\psql.exe" -X -q -v ON_ERROR_STOP=1 -h 127.0.0.1 -p $port -U $superUser -d postgres -c @"
drop role if exists $connectingUser, rg_super, rg_warn, rg_dbonly, rg_nologin;
create role $connectingUser login password '$password';
create role rg_super superuser login;
create role rg_warn createdb createrole login;
create role rg_dbonly createdb login;
create role rg_nologin nologin;
"@
$created = $LASTEXITCODE
Remove-Item env:PGPASSWORD
if ($created -ne 0) { throw 'psql could not create the test roles' }

# The tool runs in a folder holding a psql.bat (and a where.bat and a reg.bat) that
# would leave a file behind if it were ever run.
$work = Join-Path ([System.IO.Path]::GetTempPath()) "rolegate-smoke-$PID"
New-Item -ItemType Directory -Path $work | Out-Null
foreach ($name in 'psql', 'where', 'reg') {
    Set-Content -LiteralPath "$work\$name.bat" -Value "@echo ran> `"%~dp0${name}-ran.txt`""
}

# Runs the tool in $work with $Typed on its standard input; its exit status and both
# outputs, their line ends made `n.
function Invoke-Rolegate([string[]]$Arguments, [string]$Typed, [hashtable]$Environment = @{}) {
    $start = [System.Diagnostics.ProcessStartInfo]::new($rolegate)
    foreach ($argument in $Arguments) { $start.ArgumentList.Add($argument) }
    foreach ($name in $Environment.Keys) { $start.Environment[$name] = $Environment[$name] }
    $start.WorkingDirectory = $work
    $start.UseShellExecute = $false
    $start.RedirectStandardInput = $true
    $start.RedirectStandardOutput = $true
    $start.RedirectStandardError = $true
    $process = [System.Diagnostics.Process]::Start($start)
    $output = $process.StandardOutput.ReadToEndAsync()
    $errors = $process.StandardError.ReadToEndAsync()
    # A tool that ends before it reads (a bad command line) has closed the pipe.
    try { $process.StandardInput.Write($Typed) } catch [System.IO.IOException] {}
    try { $process.StandardInput.Close() } catch [System.IO.IOException] {}
    if (-not $process.WaitForExit(120000)) {
        $process.Kill($true)
        throw "rolegate $Arguments did not end within 120 s"
    }
    [pscustomobject]@{
        Status = $process.ExitCode
        Output = $output.Result -replace "`r`n", "`n"
        Errors = $errors.Result -replace "`r`n", "`n"
    }
}

$mismatches = [System.Collections.Generic.List[string]]::new()
# Records a mismatch, with what the run printed when there was one.
function Test-Same([string]$What, $Expected, $Actual, $Run = $null) {
    if ("$Expected" -ceq "$Actual") { return }
    $said = if ($Run) { "`n--- output:`n$($Run.Output)--- errors:`n$($Run.Errors)" } else { '' }
    $mismatches.Add("${What}: expected [$Expected], got [$Actual]$said")
}

function Get-ConnectionArguments([string]$Main, [string]$Internal) {
    $arguments = @('-h', '127.0.0.1', '-p', $port, '-u', $connectingUser, '-m', $Main)
    if ($Internal) { $arguments += @('-i', $Internal) }
    $arguments
}

# The report's lines that match $Pattern, joined by " | ".
function Get-Lines([string]$Output, [string]$Pattern = '') {
    @($Output -split "`n" | Where-Object { $_ -match $Pattern }) -join ' | '
}
$verdictLine = '^(Main|Internal) PostgreSQL user: '
$mainOk = 'Main PostgreSQL user: OK'
$typed = "$password`n"
$forPrograms = @('--format', 'json', '--strict')

$onPath = @(Get-Command psql -ErrorAction SilentlyContinue | ForEach-Object Source)
Test-Same 'psql on PATH' '' ($onPath -join ' ')

# The registry route: a miss line for each of 16 down to 12 above the installed major
# (all five for one newer than 16), then the prompt; no question for psql's path.
$key = 'HKLM\SOFTWARE\PostgreSQL\Installations\postgresql-x64-'
$expected = @(16..12 | Where-Object { $major -gt 16 -or $_ -gt $major } | ForEach-Object {
        "Unable to retrieve psql executable path from $key$_\"
    }) + 'Please enter database password:'
$run = Invoke-Rolegate (Get-ConnectionArguments 'rg_super' '') $typed
$head = @($run.Output -split "`n" | Select-Object -First $expected.Count)
Test-Same 'lines before the prompt' ($expected -join ' | ') ($head -join ' | ') $run
Test-Same 'psql from the registry: verdict' $mainOk (Get-Lines $run.Output $verdictLine) $run

# Each case as a person reads it, and as a program does with --format json --strict.
$cases = @(
    @{ Main = 'rg_super'; Internal = 'rg_warn'; Strict = 0; Ready = $true; Json = 'ok ok'
        Text = 'Main PostgreSQL user: OK | Internal PostgreSQL user: OK' },
    @{ Main = 'rg_warn'; Internal = 'rg_nologin'; Strict = 3; Ready = $false
        Json = 'ok_with_warnings failed'
        Text = 'Main PostgreSQL user: OK | Internal PostgreSQL user: FAILED' },
    @{ Main = 'rg_dbonly'; Internal = 'rg_super'; Strict = 3; Ready = $false; Json = 'failed ok'
        Text = 'Main PostgreSQL user: FAILED | Internal PostgreSQL user: OK' }
)
foreach ($case in $cases) {
    $which = "-m $($case.Main) -i $($case.Internal)"
    $arguments = Get-ConnectionArguments $case.Main $case.Internal
    $text = Invoke-Rolegate $arguments $typed
    Test-Same "$which, text: status" 0 $text.Status $text
    Test-Same "$which, text: verdicts" $case.Text (Get-Lines $text.Output $verdictLine) $text

    $json = Invoke-Rolegate ($arguments + $forPrograms) $typed
    Test-Same "$which, --strict: status" $case.Strict $json.Status $json
    try {
        $document = $json.Output | ConvertFrom-Json
        $verdicts = @($document.roles | ForEach-Object verdict) -join ' '
        Test-Same "$which, JSON: ready" $case.Ready $document.ready $json
        Test-Same "$which, JSON: verdicts" $case.Json $verdicts $json
    } catch {
        Test-Same "$which, JSON" 'a document' "none ($_)" $json
    }
}

# -w: no prompt, the password from PGPASSWORD, set for this one run.
$arguments = (Get-ConnectionArguments 'rg_super' '') + '-w'
$run = Invoke-Rolegate $arguments '' @{ PGPASSWORD = $password }
Test-Same '-w and PGPASSWORD: verdict' $mainOk (Get-Lines $run.Output $verdictLine) $run

# A wrong password: the check could not run.
$run = Invoke-Rolegate ((Get-ConnectionArguments 'rg_super' 'rg_warn') + $forPrograms) "wrong`n"
Test-Same 'wrong password, --strict: status' 2 $run.Status $run
$notRun = 'ERROR: Could not execute main user compliant check'
Test-Same 'wrong password: error line' $notRun (Get-Lines $run.Errors "^$notRun`$") $run

# A bad command line: no main user, or an unknown option under --strict.
$run = Invoke-Rolegate @('-h', '127.0.0.1', '-p', $port, '-u', $connectingUser, '--strict') $typed
Test-Same 'no main user: status' 1 $run.Status $run
$arguments = (Get-ConnectionArguments 'rg_super' '') + @('-I', 'rg_nologin', '--strict')
$run = Invoke-Rolegate $arguments $typed
Test-Same 'unknown option, --strict: status' 1 $run.Status $run

$left = @(Get-ChildItem -LiteralPath $work -Filter '*-ran.txt' | ForEach-Object Name)
Test-Same 'files left by the .bat files in the current folder' '' ($left -join ' ')
Remove-Item -LiteralPath $work -Recurse -Force

if ($mismatches.Count -gt 0) {
    $mismatches | ForEach-Object { Write-Host "MISMATCH $_" }
    Write-Host "$($mismatches.Count) mismatches"
    exit 1
}
Write-Host "rolegate.exe against PostgreSQL ${major}: every check matched"
