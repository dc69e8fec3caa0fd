<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>bl::desktop::ConversionRun</name>
    <message>
        <source>A conversion is already running.</source>
        <translation>Es läuft bereits eine Umwandlung.</translation>
    </message>
    <message>
        <source>Choose an output folder first.</source>
        <translation>Wählen Sie zuerst einen Ausgabeordner.</translation>
    </message>
    <message>
        <source>There are no files ready to convert.</source>
        <translation>Keine Datei ist bereit zur Umwandlung.</translation>
    </message>
    <message>
        <source>Page %1: %2</source>
        <translation>Seite %1: %2</translation>
    </message>
    <message>
        <source>ZIP not created: %1</source>
        <translation>ZIP-Archiv nicht erstellt: %1</translation>
    </message>
</context>
<context>
    <name>bl::desktop::JobQueueModel</name>
    <message>
        <source>File</source>
        <translation>Datei</translation>
    </message>
    <message>
        <source>Pages</source>
        <translation>Seiten</translation>
    </message>
    <message>
        <source>Size</source>
        <translation>Größe</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>Checking…</source>
        <translation>Wird geprüft…</translation>
    </message>
    <message>
        <source>Ready</source>
        <translation>Bereit</translation>
    </message>
    <message>
        <source>Password required</source>
        <translation>Passwort erforderlich</translation>
    </message>
    <message>
        <source>Converting…</source>
        <translation>Wird umgewandelt…</translation>
    </message>
    <message>
        <source>Converting %1 of %2</source>
        <translation>Umwandlung: %1 von %2</translation>
    </message>
    <message>
        <source>Done — 1 page</source>
        <translation>Fertig — 1 Seite</translation>
    </message>
    <message>
        <source>Done — %1 pages</source>
        <translation>Fertig — %1 Seiten</translation>
    </message>
    <message>
        <source>Partly done — %1 of %2 pages. %3</source>
        <translation>Teilweise fertig — %1 von %2 Seiten. %3</translation>
    </message>
    <message>
        <source>Failed: %1</source>
        <translation>Fehlgeschlagen: %1</translation>
    </message>
    <message>
        <source>Cancelled — %1 of %2 pages saved</source>
        <translation>Abgebrochen — %1 von %2 Seiten gespeichert</translation>
    </message>
    <message>
        <source>Cancelled</source>
        <translation>Abgebrochen</translation>
    </message>
    <message>
        <source>Skipped</source>
        <translation>Übersprungen</translation>
    </message>
    <message>
        <source>%1 GB</source>
        <translation>%L1 GB</translation>
    </message>
    <message>
        <source>%1 MB</source>
        <translation>%L1 MB</translation>
    </message>
    <message>
        <source>%1 bytes</source>
        <translation>%1 Byte</translation>
    </message>
    <message>
        <source>%1 KB</source>
        <translation>%1 KB</translation>
    </message>
</context>
<context>
    <name>bl::desktop::MainWindow</name>
    <message>
        <source>Brightleaf — PDF to JPG</source>
        <translation>Brightleaf — PDF in JPG</translation>
    </message>
    <message>
        <source>&lt;b&gt;Convert PDF pages to JPG images&lt;/b&gt;</source>
        <translation>&lt;b&gt;PDF-Seiten in JPG-Bilder umwandeln&lt;/b&gt;</translation>
    </message>
    <message>
        <source>Runs on this computer. Your files are not uploaded.</source>
        <translation>Läuft auf diesem Computer. Ihre Dateien werden nicht hochgeladen.</translation>
    </message>
    <message>
        <source>Privacy note</source>
        <translation>Datenschutzhinweis</translation>
    </message>
    <message>
        <source>Files</source>
        <translation>Dateien</translation>
    </message>
    <message>
        <source>Drag PDF files here, or choose them with “Add PDFs…”.</source>
        <translation>Ziehen Sie PDF-Dateien hierher oder wählen Sie sie mit „PDFs hinzufügen…“ aus.</translation>
    </message>
    <message>
        <source>File queue</source>
        <translation>Warteschlange</translation>
    </message>
    <message>
        <source>PDF files to convert, with page count, size and status</source>
        <translation>Umzuwandelnde PDF-Dateien mit Seitenzahl, Größe und Status</translation>
    </message>
    <message>
        <source>Add PDF files to begin.</source>
        <translation>Fügen Sie PDF-Dateien hinzu, um zu beginnen.</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>Conversion progress</source>
        <translation>Fortschritt der Umwandlung</translation>
    </message>
    <message>
        <source>&amp;Add PDFs…</source>
        <translation>&amp;PDFs hinzufügen…</translation>
    </message>
    <message>
        <source>Add PDF files (Ctrl+O)</source>
        <translation>PDF-Dateien hinzufügen (Strg+O)</translation>
    </message>
    <message>
        <source>&amp;Remove</source>
        <translation>&amp;Entfernen</translation>
    </message>
    <message>
        <source>Convert again</source>
        <translation>Erneut umwandeln</translation>
    </message>
    <message>
        <source>C&amp;lear list</source>
        <translation>&amp;Liste leeren</translation>
    </message>
    <message>
        <source>Convert to &amp;JPG</source>
        <translation>In &amp;JPG umwandeln</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>&amp;Open output folder</source>
        <translation>&amp;Ausgabeordner öffnen</translation>
    </message>
    <message>
        <source>E&amp;xit</source>
        <translation>&amp;Beenden</translation>
    </message>
    <message>
        <source>&amp;About and third-party notices</source>
        <translation>Ü&amp;ber Brightleaf und Hinweise zu Drittsoftware</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Datei</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>&amp;Hilfe</translation>
    </message>
    <message>
        <source>Choose PDF files</source>
        <translation>PDF-Dateien auswählen</translation>
    </message>
    <message>
        <source>PDF documents (*.pdf);;All files (*)</source>
        <translation>PDF-Dokumente (*.pdf);;Alle Dateien (*)</translation>
    </message>
    <message>
        <source>Converting…</source>
        <translation>Wird umgewandelt…</translation>
    </message>
    <message>
        <source>Checking files…</source>
        <translation>Dateien werden geprüft…</translation>
    </message>
    <message>
        <source>No files are ready to convert.</source>
        <translation>Keine Datei ist bereit zur Umwandlung.</translation>
    </message>
    <message>
        <source>Fix the page selection.</source>
        <translation>Korrigieren Sie die Seitenauswahl.</translation>
    </message>
    <message>
        <source>Fix the file naming template.</source>
        <translation>Korrigieren Sie die Vorlage für die Dateinamen.</translation>
    </message>
    <message>
        <source>Choose where to save the images.</source>
        <translation>Wählen Sie einen Speicherort für die Bilder.</translation>
    </message>
    <message>
        <source>Start converting (Ctrl+Enter)</source>
        <translation>Umwandlung starten (Strg+Eingabe)</translation>
    </message>
    <message>
        <source>Ready to convert.</source>
        <translation>Bereit zur Umwandlung.</translation>
    </message>
    <message>
        <source>Open first image</source>
        <translation>Erstes Bild öffnen</translation>
    </message>
    <message>
        <source>Show in folder</source>
        <translation>Im Ordner anzeigen</translation>
    </message>
    <message>
        <source>Cannot open</source>
        <translation>Öffnen nicht möglich</translation>
    </message>
    <message>
        <source>No application is set up to open the folder “%1”. Open it in your file manager.</source>
        <translation>Keine Anwendung ist zum Öffnen des Ordners „%1“ eingerichtet. Öffnen Sie ihn in Ihrer Dateiverwaltung.</translation>
    </message>
    <message>
        <source>No application is set up to open “%1”. It is in the folder “%2”.</source>
        <translation>Keine Anwendung ist zum Öffnen von „%1“ eingerichtet. Die Datei liegt im Ordner „%2“.</translation>
    </message>
    <message>
        <source>1 file converted</source>
        <translation>1 Datei umgewandelt</translation>
    </message>
    <message>
        <source>%1 files converted</source>
        <translation>%1 Dateien umgewandelt</translation>
    </message>
    <message numerus="yes">
        <source>%n partly converted</source>
        <translation>
            <numerusform>%n teilweise umgewandelt</numerusform>
            <numerusform>%n teilweise umgewandelt</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n failed</source>
        <translation>
            <numerusform>%n fehlgeschlagen</numerusform>
            <numerusform>%n fehlgeschlagen</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n skipped</source>
        <translation>
            <numerusform>%n übersprungen</numerusform>
            <numerusform>%n übersprungen</numerusform>
        </translation>
    </message>
    <message>
        <source>No file was finished.</source>
        <translation>Keine Datei wurde vollständig umgewandelt.</translation>
    </message>
    <message>
        <source>Nothing was converted.</source>
        <translation>Nichts wurde umgewandelt.</translation>
    </message>
    <message>
        <source>1 image saved.</source>
        <translation>1 Bild gespeichert.</translation>
    </message>
    <message>
        <source>%1 images saved.</source>
        <translation>%1 Bilder gespeichert.</translation>
    </message>
    <message>
        <source>Stopped. </source>
        <translation>Abgebrochen. </translation>
    </message>
    <message>
        <source>See the Status column for details.</source>
        <translation>Einzelheiten stehen in der Spalte „Status“.</translation>
    </message>
    <message>
        <source>Cannot start</source>
        <translation>Start nicht möglich</translation>
    </message>
    <message>
        <source>%1%</source>
        <translation>%1&#xa0;%</translation>
    </message>
    <message>
        <source>%1% — Brightleaf — PDF to JPG</source>
        <translation>%1&#xa0;% — Brightleaf — PDF in JPG</translation>
    </message>
    <message>
        <source>Cancelling after the current page…</source>
        <translation>Abbruch nach der aktuellen Seite…</translation>
    </message>
    <message>
        <source>Starting 1 file…</source>
        <translation>Umwandlung von 1 Datei beginnt…</translation>
    </message>
    <message>
        <source>Starting %1 files…</source>
        <translation>Umwandlung von %1 Dateien beginnt…</translation>
    </message>
    <message>
        <source>Converting %1 (file %2 of %3)…</source>
        <translation>%1 wird umgewandelt (Datei %2 von %3)…</translation>
    </message>
    <message>
        <source>Converting %1 (file %2 of %3) — page %4 of %5</source>
        <translation>%1 wird umgewandelt (Datei %2 von %3) — Seite %4 von %5</translation>
    </message>
    <message>
        <source>Conversion stopped</source>
        <translation>Umwandlung abgebrochen</translation>
    </message>
    <message>
        <source>Conversion finished</source>
        <translation>Umwandlung abgeschlossen</translation>
    </message>
    <message>
        <source>The full licence texts are in the “licenses” folder next to the application.</source>
        <translation>Die vollständigen Lizenztexte stehen im Ordner „licenses“ neben der Anwendung.</translation>
    </message>
    <message>
        <source>The full licence texts are in %1.</source>
        <translation>Die vollständigen Lizenztexte stehen in %1.</translation>
    </message>
    <message>
        <source>&lt;p&gt;&lt;b&gt;Brightleaf&lt;/b&gt; %1&lt;br&gt;This is a preview build, not for production use.&lt;br&gt;Copyright © The Brightleaf authors. Brightleaf is released under the MIT licence.&lt;/p&gt;&lt;p&gt;Brightleaf converts PDF pages to JPG images on this computer. Your files are not uploaded.&lt;/p&gt;&lt;p&gt;PDF rendering by PDFium %2, JPEG encoding by libjpeg-turbo %3 and the user interface by Qt %4. Qt is used under the GNU Lesser General Public License version 3 (LGPL v3); PDFium and libjpeg-turbo under their own open-source licences. The Qt libraries shipped with this application may be replaced with other versions.&lt;/p&gt;&lt;p&gt;Portions of this software are copyright © The FreeType Project (www.freetype.org). All rights reserved.&lt;/p&gt;&lt;p&gt;This software is based in part on the work of the Independent JPEG Group.&lt;/p&gt;</source>
        <translation>&lt;p&gt;&lt;b&gt;Brightleaf&lt;/b&gt; %1&lt;br&gt;Dies ist eine Vorabversion, nicht für den produktiven Einsatz.&lt;br&gt;Copyright © The Brightleaf authors. Brightleaf wird unter der MIT-Lizenz veröffentlicht.&lt;/p&gt;&lt;p&gt;Brightleaf wandelt PDF-Seiten auf diesem Computer in JPG-Bilder um. Ihre Dateien werden nicht hochgeladen.&lt;/p&gt;&lt;p&gt;PDF-Darstellung durch PDFium %2, JPEG-Kodierung durch libjpeg-turbo %3 und Benutzeroberfläche durch Qt %4. Qt wird unter der GNU Lesser General Public License Version 3 (LGPL v3) verwendet, PDFium und libjpeg-turbo unter ihren eigenen Open-Source-Lizenzen. Die mit dieser Anwendung ausgelieferten Qt-Bibliotheken können durch andere Versionen ersetzt werden.&lt;/p&gt;&lt;p&gt;Portions of this software are copyright © The FreeType Project (www.freetype.org). All rights reserved.&lt;/p&gt;&lt;p&gt;This software is based in part on the work of the Independent JPEG Group.&lt;/p&gt;</translation>
    </message>
    <message numerus="yes">
        <source>PDF files are opened and drawn by up to %n sandboxed helper processes at once (sandbox: %1).</source>
        <translation>
            <numerusform>PDF-Dateien werden von %n isolierten Hilfsprozess geöffnet und gerendert (Sandbox: %1).</numerusform>
            <numerusform>PDF-Dateien werden von bis zu %n isolierten Hilfsprozessen gleichzeitig geöffnet und gerendert (Sandbox: %1).</numerusform>
        </translation>
    </message>
    <message>
        <source>About Brightleaf</source>
        <translation>Über Brightleaf</translation>
    </message>
    <message>
        <source>Conversion in progress</source>
        <translation>Umwandlung läuft</translation>
    </message>
    <message>
        <source>A conversion is still running. Stop it and quit? Pages already saved are kept.</source>
        <translation>Eine Umwandlung läuft noch. Abbrechen und beenden? Bereits gespeicherte Seiten bleiben erhalten.</translation>
    </message>
    <message>
        <source>Estimated from a few pages of each file, converted in memory with the current settings.</source>
        <translation>Geschätzt aus einigen Seiten jeder Datei, die mit den aktuellen Einstellungen im Speicher umgewandelt werden.</translation>
    </message>
</context>
<context>
    <name>bl::desktop::OutputEstimator</name>
    <message>
        <source>Estimating the size of the images…</source>
        <translation>Die Größe der Bilder wird geschätzt…</translation>
    </message>
    <message>
        <source>The size of the images could not be estimated.</source>
        <translation>Die Größe der Bilder konnte nicht geschätzt werden.</translation>
    </message>
    <message>
        <source>About %1 for 1 image</source>
        <translation>Etwa %1 für 1 Bild</translation>
    </message>
    <message>
        <source>About %1 for %2 images</source>
        <translation>Etwa %1 für %2 Bilder</translation>
    </message>
    <message>
        <source>(1 file not counted)</source>
        <translation>(1 Datei nicht mitgezählt)</translation>
    </message>
    <message>
        <source>(%1 files not counted)</source>
        <translation>(%1 Dateien nicht mitgezählt)</translation>
    </message>
</context>
<context>
    <name>bl::desktop::PageListModel</name>
    <message>
        <source>Page %1, selected</source>
        <translation>Seite %1, ausgewählt</translation>
    </message>
    <message>
        <source>Page %1, not selected</source>
        <translation>Seite %1, nicht ausgewählt</translation>
    </message>
</context>
<context>
    <name>bl::desktop::PagePane</name>
    <message>
        <source>Preview</source>
        <translation>Vorschau</translation>
    </message>
    <message>
        <source>Click a page to include or leave it out; double-click to preview it.</source>
        <translation>Klicken Sie auf eine Seite, um sie ein- oder auszuschließen; ein Doppelklick zeigt ihre Vorschau.</translation>
    </message>
    <message>
        <source>Select a file in the list to see its pages here.</source>
        <translation>Wählen Sie eine Datei in der Liste, um hier ihre Seiten zu sehen.</translation>
    </message>
    <message>
        <source>Checking the file…</source>
        <translation>Die Datei wird geprüft…</translation>
    </message>
    <message>
        <source>This file is password-protected, so its pages are not shown.</source>
        <translation>Diese Datei ist passwortgeschützt, daher werden ihre Seiten nicht angezeigt.</translation>
    </message>
    <message>
        <source>This file has no pages to show.</source>
        <translation>Diese Datei hat keine Seiten, die sich anzeigen lassen.</translation>
    </message>
</context>
<context>
    <name>bl::desktop::PagePreview</name>
    <message>
        <source>%1 × %2 pixels · %3 · %4 DPI, JPEG quality %5</source>
        <translation>%1 × %2 Pixel · %3 · %4 DPI, JPEG-Qualität %5</translation>
    </message>
    <message>
        <source>&amp;Fit to window</source>
        <translation>An &amp;Fenster anpassen</translation>
    </message>
    <message>
        <source>&amp;Actual size (100 %)</source>
        <translation>&amp;Originalgröße (100&#xa0;%)</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>Page as it will be saved</source>
        <translation>Seite, wie sie gespeichert wird</translation>
    </message>
    <message>
        <source>Scroll the page</source>
        <translation>Seite scrollen</translation>
    </message>
    <message>
        <source>Scroll the page sideways</source>
        <translation>Seite seitlich scrollen</translation>
    </message>
    <message>
        <source>Page %1 of %2 — %3</source>
        <translation>Seite %1 von %2 — %3</translation>
    </message>
    <message>
        <source>Drawing page %1 as it will be saved…</source>
        <translation>Seite %1 wird so gezeichnet, wie sie gespeichert wird…</translation>
    </message>
</context>
<context>
    <name>bl::desktop::PageView</name>
    <message>
        <source>Pages of the selected file</source>
        <translation>Seiten der ausgewählten Datei</translation>
    </message>
    <message>
        <source>Space includes or leaves out a page; Enter shows it as it will be saved</source>
        <translation>Die Leertaste schließt eine Seite ein oder aus; die Eingabetaste zeigt sie so, wie sie gespeichert wird</translation>
    </message>
    <message>
        <source>Scroll the pages</source>
        <translation>Seiten scrollen</translation>
    </message>
    <message>
        <source>Scroll the pages sideways</source>
        <translation>Seiten seitlich scrollen</translation>
    </message>
</context>
<context>
    <name>bl::desktop::RunPrompts</name>
    <message>
        <source>Password required</source>
        <translation>Passwort erforderlich</translation>
    </message>
    <message>
        <source>That password did not open “%1”. Try again:</source>
        <translation>Mit diesem Passwort ließ sich „%1“ nicht öffnen. Versuchen Sie es noch einmal:</translation>
    </message>
    <message>
        <source>“%1” is password-protected. Enter its password to convert it:</source>
        <translation>„%1“ ist passwortgeschützt. Geben Sie das Passwort ein, um die Datei umzuwandeln:</translation>
    </message>
    <message>
        <source>Convert</source>
        <translation>Umwandeln</translation>
    </message>
    <message>
        <source>Skip this file</source>
        <translation>Datei überspringen</translation>
    </message>
    <message>
        <source>Files already exist</source>
        <translation>Dateien bereits vorhanden</translation>
    </message>
    <message>
        <source>Your choice applies to the rest of this conversion.</source>
        <translation>Ihre Wahl gilt für den Rest dieser Umwandlung.</translation>
    </message>
    <message>
        <source>Replace</source>
        <translation>Ersetzen</translation>
    </message>
    <message>
        <source>Keep both</source>
        <translation>Beide behalten</translation>
    </message>
</context>
<context>
    <name>bl::desktop::SettingsPanel</name>
    <message>
        <source>Show advanced settings</source>
        <translation>Erweiterte Einstellungen anzeigen</translation>
    </message>
    <message>
        <source>Advanced settings</source>
        <translation>Erweiterte Einstellungen</translation>
    </message>
    <message>
        <source>Scroll the settings</source>
        <translation>Einstellungen scrollen</translation>
    </message>
    <message>
        <source>Pages</source>
        <translation>Seiten</translation>
    </message>
    <message>
        <source>All pages</source>
        <translation>Alle Seiten</translation>
    </message>
    <message>
        <source>Selected pages:</source>
        <translation>Ausgewählte Seiten:</translation>
    </message>
    <message>
        <source>e.g. 1-3, 5, 8-</source>
        <translation>z.&#xa0;B. 1-3, 5, 8-</translation>
    </message>
    <message>
        <source>Page selection</source>
        <translation>Seitenauswahl</translation>
    </message>
    <message>
        <source>Every page of each file is converted.</source>
        <translation>Jede Seite jeder Datei wird umgewandelt.</translation>
    </message>
    <message>
        <source>Quality</source>
        <translation>Qualität</translation>
    </message>
    <message>
        <source>Resolution preset</source>
        <translation>Auflösungsvorgabe</translation>
    </message>
    <message>
        <source>72 DPI — smallest files, on-screen previews</source>
        <translation>72 DPI — kleinste Dateien, Bildschirmvorschau</translation>
    </message>
    <message>
        <source>96 DPI — screen viewing</source>
        <translation>96 DPI — Anzeige am Bildschirm</translation>
    </message>
    <message>
        <source>150 DPI — balanced (recommended)</source>
        <translation>150 DPI — ausgewogen (empfohlen)</translation>
    </message>
    <message>
        <source>200 DPI — sharper text</source>
        <translation>200 DPI — schärferer Text</translation>
    </message>
    <message>
        <source>300 DPI — high detail, larger files</source>
        <translation>300 DPI — viele Details, größere Dateien</translation>
    </message>
    <message>
        <source>600 DPI — print quality, very large files</source>
        <translation>600 DPI — Druckqualität, sehr große Dateien</translation>
    </message>
    <message>
        <source>Custom (set in Advanced)</source>
        <translation>Benutzerdefiniert (unter „Erweitert“)</translation>
    </message>
    <message>
        <source>Higher DPI gives more detail and larger files.</source>
        <translation>Höhere DPI-Werte ergeben mehr Details und größere Dateien.</translation>
    </message>
    <message>
        <source> DPI</source>
        <translation> DPI</translation>
    </message>
    <message>
        <source>Resolution in DPI</source>
        <translation>Auflösung in DPI</translation>
    </message>
    <message>
        <source>Resolution:</source>
        <translation>Auflösung:</translation>
    </message>
    <message>
        <source>JPEG quality</source>
        <translation>JPEG-Qualität</translation>
    </message>
    <message>
        <source>Higher means sharper and larger files. 90 is a good default.</source>
        <translation>Höhere Werte ergeben schärfere Bilder und größere Dateien. 90 ist ein guter Standardwert.</translation>
    </message>
    <message>
        <source>JPEG quality (1–100):</source>
        <translation>JPEG-Qualität (1–100):</translation>
    </message>
    <message>
        <source>Background colour for transparent areas</source>
        <translation>Hintergrundfarbe für transparente Bereiche</translation>
    </message>
    <message>
        <source>Background:</source>
        <translation>Hintergrund:</translation>
    </message>
    <message>
        <source>File naming template</source>
        <translation>Vorlage für Dateinamen</translation>
    </message>
    <message>
        <source>Tokens: {original}, {page_number}, {page_number:0001}, {page_count}, {dpi}</source>
        <translation>Platzhalter: {original}, {page_number}, {page_number:0001}, {page_count}, {dpi}</translation>
    </message>
    <message>
        <source>File names:</source>
        <translation>Dateinamen:</translation>
    </message>
    <message>
        <source>When a file already exists</source>
        <translation>Wenn eine Datei schon vorhanden ist</translation>
    </message>
    <message>
        <source>Ask me</source>
        <translation>Nachfragen</translation>
    </message>
    <message>
        <source>Replace existing files</source>
        <translation>Vorhandene Dateien ersetzen</translation>
    </message>
    <message>
        <source>Keep both (add a number)</source>
        <translation>Beide behalten (Nummer anhängen)</translation>
    </message>
    <message>
        <source>If a file exists:</source>
        <translation>Datei vorhanden:</translation>
    </message>
    <message>
        <source>Also create a ZIP of each file&apos;s pages</source>
        <translation>Zusätzlich ein ZIP je Datei erstellen</translation>
    </message>
    <message>
        <source>Include comments and stamps (annotations)</source>
        <translation>Mit Kommentaren und Stempeln (Anmerkungen)</translation>
    </message>
    <message>
        <source>Include filled-in form fields</source>
        <translation>Mit ausgefüllten Formularfeldern</translation>
    </message>
    <message>
        <source>Save to</source>
        <translation>Speichern in</translation>
    </message>
    <message>
        <source>Choose a folder for the images</source>
        <translation>Ordner für die Bilder wählen</translation>
    </message>
    <message>
        <source>Output folder</source>
        <translation>Ausgabeordner</translation>
    </message>
    <message>
        <source>&amp;Choose folder…</source>
        <translation>&amp;Ordner wählen…</translation>
    </message>
    <message>
        <source>Remember this folder next time</source>
        <translation>Ordner für das nächste Mal merken</translation>
    </message>
    <message>
        <source>Hide advanced settings</source>
        <translation>Erweiterte Einstellungen ausblenden</translation>
    </message>
    <message>
        <source>White</source>
        <translation>Weiß</translation>
    </message>
    <message>
        <source>Background colour: %1</source>
        <translation>Hintergrundfarbe: %1</translation>
    </message>
    <message>
        <source>Background for transparent areas</source>
        <translation>Hintergrund für transparente Bereiche</translation>
    </message>
    <message>
        <source>Choose where to save the images</source>
        <translation>Speicherort für die Bilder wählen</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>Problem: %1</source>
        <translation>Problem: %1</translation>
    </message>
    <message>
        <source>Pages are numbered from 1. Use commas and ranges.</source>
        <translation>Die Seiten sind ab 1 nummeriert. Verwenden Sie Kommas und Bereiche.</translation>
    </message>
    <message>
        <source>Example: %1.jpg</source>
        <translation>Beispiel: %1.jpg</translation>
    </message>
    <message>
        <source>First page of %1: %2 × %3 pixels</source>
        <translation>Erste Seite von %1: %2 × %3 Pixel</translation>
    </message>
</context>
</TS>
