<?php
// The peers' runtime: a page under php-fpm with opcache that opens the
// SQLite file, runs three indexed queries (the settings row, the name of a
// resource, the slots of a week of that resource with their reservation
// counts by index) and fills a template. It writes the same bytes as
// bench/fcgi_limit.c; the benchmark measures WebOrvane's FastCGI pages
// against both.
//
//   pool environment: BENCH_DB (the SQLite file), BENCH_TEMPLATE (the
//                     template as PHP: $address, $resource, $rows)
//   request:          ?Resurssi=R01&Alku=YYYY-MM-DD&Loppu=YYYY-MM-DD
$h = static fn($s) => htmlspecialchars((string)$s, ENT_QUOTES, 'UTF-8');
$res = $_GET['Resurssi'] ?? '';
$db = new SQLite3(getenv('BENCH_DB'), SQLITE3_OPEN_READONLY);

$ok = true;
$settings = $db->query("SELECT OsoiteRivi1, OsoiteRivi2, Puhelin FROM WEBPARAM WHERE Numero = '01'")
    ->fetchArray(SQLITE3_NUM);
$ok = $ok && $settings !== false;
$address = $settings ? implode(', ', array_map($h, $settings)) : '';

$st = $db->prepare('SELECT ResNimi FROM VARESNIMI WHERE ResNo = ?1');
$st->bindValue(1, $res, SQLITE3_TEXT);
$row = $st->execute()->fetchArray(SQLITE3_NUM);
$ok = $ok && $row !== false;
$resource = $row ? $h($row[0]) : '';

$st = $db->prepare('SELECT v.Kausi, v.VuoroNo, v.VuoroAika, v.Maara, '
    . '(SELECT COUNT(*) FROM VAVARAUS r WHERE r.Kausi = v.Kausi AND r.VuoroNo = v.VuoroNo '
    . 'AND r.VuoroNoSeq = v.VuoroNoSeq) '
    . 'FROM VaVuoro v WHERE v.ResNo = ?1 AND v.VuoroAika >= ?2 AND v.VuoroAika < ?3 ORDER BY v.VuoroAika');
$st->bindValue(1, $res, SQLITE3_TEXT);
$st->bindValue(2, $_GET['Alku'] ?? '', SQLITE3_TEXT);
$st->bindValue(3, $_GET['Loppu'] ?? '', SQLITE3_TEXT);
$rows = '';
$result = $st->execute();
while ($r = $result->fetchArray(SQLITE3_NUM)) {
    $rows .= '<tr><td>' . $h($r[2]) . '</td><td>' . (int)$r[3] . '</td><td>' . (int)$r[4]
        . '</td><td><a href="/cgi-bin/WebOrvane.exe/Varaa?Kau=' . $h($r[0]) . '&amp;Vuo=' . $h($r[1])
        . "\">Varaa</a></td></tr>\n";
}
$db->close();

ob_start();
include getenv('BENCH_TEMPLATE');
$page = ob_get_clean();
if (!$ok) http_response_code(500);
header('Content-Type: text/html; charset=UTF-8');
header('Content-Length: ' . strlen($page));
echo $page;
