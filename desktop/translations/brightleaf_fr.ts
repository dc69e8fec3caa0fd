<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr_FR">
<context>
    <name>bl::desktop::ConversionRun</name>
    <message>
        <source>A conversion is already running.</source>
        <translation>Une conversion est déjà en cours.</translation>
    </message>
    <message>
        <source>Choose an output folder first.</source>
        <translation>Choisissez d’abord un dossier de sortie.</translation>
    </message>
    <message>
        <source>There are no files ready to convert.</source>
        <translation>Aucun fichier n’est prêt à être converti.</translation>
    </message>
    <message>
        <source>Page %1: %2</source>
        <translation>Page %1&#xa0;: %2</translation>
    </message>
    <message>
        <source>ZIP not created: %1</source>
        <translation>Archive ZIP non créée&#xa0;: %1</translation>
    </message>
</context>
<context>
    <name>bl::desktop::JobQueueModel</name>
    <message>
        <source>File</source>
        <translation>Fichier</translation>
    </message>
    <message>
        <source>Pages</source>
        <translation>Pages</translation>
    </message>
    <message>
        <source>Size</source>
        <translation>Taille</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>État</translation>
    </message>
    <message>
        <source>Checking…</source>
        <translation>Vérification…</translation>
    </message>
    <message>
        <source>Ready</source>
        <translation>Prêt</translation>
    </message>
    <message>
        <source>Password required</source>
        <translation>Mot de passe requis</translation>
    </message>
    <message>
        <source>Converting…</source>
        <translation>Conversion en cours…</translation>
    </message>
    <message>
        <source>Converting %1 of %2</source>
        <translation>Conversion&#xa0;: %1 sur %2</translation>
    </message>
    <message>
        <source>Done — 1 page</source>
        <translation>Terminé — 1 page</translation>
    </message>
    <message>
        <source>Done — %1 pages</source>
        <translation>Terminé — %1 pages</translation>
    </message>
    <message>
        <source>Partly done — %1 of %2 pages. %3</source>
        <translation>En partie terminé — %1 pages sur %2. %3</translation>
    </message>
    <message>
        <source>Failed: %1</source>
        <translation>Échec&#xa0;: %1</translation>
    </message>
    <message>
        <source>Cancelled — %1 of %2 pages saved</source>
        <translation>Annulé — %1 pages sur %2 enregistrées</translation>
    </message>
    <message>
        <source>Cancelled</source>
        <translation>Annulé</translation>
    </message>
    <message>
        <source>Skipped</source>
        <translation>Ignoré</translation>
    </message>
    <message>
        <source>%1 GB</source>
        <translation>%L1&#xa0;Go</translation>
    </message>
    <message>
        <source>%1 MB</source>
        <translation>%L1&#xa0;Mo</translation>
    </message>
    <message>
        <source>%1 bytes</source>
        <translation>%1&#xa0;octets</translation>
    </message>
    <message>
        <source>%1 KB</source>
        <translation>%1&#xa0;Ko</translation>
    </message>
</context>
<context>
    <name>bl::desktop::MainWindow</name>
    <message>
        <source>Brightleaf — PDF to JPG</source>
        <translation>Brightleaf — PDF vers JPG</translation>
    </message>
    <message>
        <source>&lt;b&gt;Convert PDF pages to JPG images&lt;/b&gt;</source>
        <translation>&lt;b&gt;Convertir des pages PDF en images JPG&lt;/b&gt;</translation>
    </message>
    <message>
        <source>Runs on this computer. Your files are not uploaded.</source>
        <translation>Fonctionne sur cet ordinateur. Vos fichiers ne sont envoyés nulle part.</translation>
    </message>
    <message>
        <source>Privacy note</source>
        <translation>Note de confidentialité</translation>
    </message>
    <message>
        <source>Files</source>
        <translation>Fichiers</translation>
    </message>
    <message>
        <source>Drag PDF files here, or choose them with “Add PDFs…”.</source>
        <translation>Faites glisser des fichiers PDF ici, ou choisissez-les avec «&#xa0;Ajouter des PDF…&#xa0;».</translation>
    </message>
    <message>
        <source>File queue</source>
        <translation>File d’attente</translation>
    </message>
    <message>
        <source>PDF files to convert, with page count, size and status</source>
        <translation>Fichiers PDF à convertir, avec nombre de pages, taille et état</translation>
    </message>
    <message>
        <source>Add PDF files to begin.</source>
        <translation>Ajoutez des fichiers PDF pour commencer.</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>État</translation>
    </message>
    <message>
        <source>Conversion progress</source>
        <translation>Progression de la conversion</translation>
    </message>
    <message>
        <source>&amp;Add PDFs…</source>
        <translation>Ajouter des &amp;PDF…</translation>
    </message>
    <message>
        <source>Add PDF files (Ctrl+O)</source>
        <translation>Ajouter des fichiers PDF (Ctrl+O)</translation>
    </message>
    <message>
        <source>&amp;Remove</source>
        <translation>&amp;Retirer</translation>
    </message>
    <message>
        <source>Convert again</source>
        <translation>Convertir à nouveau</translation>
    </message>
    <message>
        <source>C&amp;lear list</source>
        <translation>&amp;Vider la liste</translation>
    </message>
    <message>
        <source>Convert to &amp;JPG</source>
        <translation>Convertir en &amp;JPG</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Annuler</translation>
    </message>
    <message>
        <source>&amp;Open output folder</source>
        <translation>&amp;Ouvrir le dossier de sortie</translation>
    </message>
    <message>
        <source>E&amp;xit</source>
        <translation>&amp;Quitter</translation>
    </message>
    <message>
        <source>&amp;About and third-party notices</source>
        <translation>À &amp;propos et mentions des logiciels tiers</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Fichier</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>&amp;Aide</translation>
    </message>
    <message>
        <source>Choose PDF files</source>
        <translation>Choisir des fichiers PDF</translation>
    </message>
    <message>
        <source>PDF documents (*.pdf);;All files (*)</source>
        <translation>Documents PDF (*.pdf);;Tous les fichiers (*)</translation>
    </message>
    <message>
        <source>Converting…</source>
        <translation>Conversion en cours…</translation>
    </message>
    <message>
        <source>Checking files…</source>
        <translation>Vérification des fichiers…</translation>
    </message>
    <message>
        <source>No files are ready to convert.</source>
        <translation>Aucun fichier n’est prêt à être converti.</translation>
    </message>
    <message>
        <source>Fix the page selection.</source>
        <translation>Corrigez la sélection de pages.</translation>
    </message>
    <message>
        <source>Fix the file naming template.</source>
        <translation>Corrigez le modèle de nom de fichier.</translation>
    </message>
    <message>
        <source>Choose where to save the images.</source>
        <translation>Choisissez où enregistrer les images.</translation>
    </message>
    <message>
        <source>Start converting (Ctrl+Enter)</source>
        <translation>Lancer la conversion (Ctrl+Entrée)</translation>
    </message>
    <message>
        <source>Ready to convert.</source>
        <translation>Prêt pour la conversion.</translation>
    </message>
    <message>
        <source>Open first image</source>
        <translation>Ouvrir la première image</translation>
    </message>
    <message>
        <source>Show in folder</source>
        <translation>Afficher dans le dossier</translation>
    </message>
    <message>
        <source>Cannot open</source>
        <translation>Ouverture impossible</translation>
    </message>
    <message>
        <source>No application is set up to open the folder “%1”. Open it in your file manager.</source>
        <translation>Aucune application n’est configurée pour ouvrir le dossier «&#xa0;%1&#xa0;». Ouvrez-le dans votre gestionnaire de fichiers.</translation>
    </message>
    <message>
        <source>No application is set up to open “%1”. It is in the folder “%2”.</source>
        <translation>Aucune application n’est configurée pour ouvrir «&#xa0;%1&#xa0;». Le fichier se trouve dans le dossier «&#xa0;%2&#xa0;».</translation>
    </message>
    <message>
        <source>1 file converted</source>
        <translation>1 fichier converti</translation>
    </message>
    <message>
        <source>%1 files converted</source>
        <translation>%1 fichiers convertis</translation>
    </message>
    <message numerus="yes">
        <source>%n partly converted</source>
        <translation>
            <numerusform>%n converti en partie</numerusform>
            <numerusform>%n convertis en partie</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n failed</source>
        <translation>
            <numerusform>%n en échec</numerusform>
            <numerusform>%n en échec</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n skipped</source>
        <translation>
            <numerusform>%n ignoré</numerusform>
            <numerusform>%n ignorés</numerusform>
        </translation>
    </message>
    <message>
        <source>No file was finished.</source>
        <translation>Aucun fichier n’a été terminé.</translation>
    </message>
    <message>
        <source>Nothing was converted.</source>
        <translation>Rien n’a été converti.</translation>
    </message>
    <message>
        <source>1 image saved.</source>
        <translation>1 image enregistrée.</translation>
    </message>
    <message>
        <source>%1 images saved.</source>
        <translation>%1 images enregistrées.</translation>
    </message>
    <message>
        <source>Stopped. </source>
        <translation>Interrompu. </translation>
    </message>
    <message>
        <source>See the Status column for details.</source>
        <translation>Consultez la colonne «&#xa0;État&#xa0;» pour plus de détails.</translation>
    </message>
    <message>
        <source>Cannot start</source>
        <translation>Démarrage impossible</translation>
    </message>
    <message>
        <source>%1%</source>
        <translation>%1&#xa0;%</translation>
    </message>
    <message>
        <source>%1% — Brightleaf — PDF to JPG</source>
        <translation>%1&#xa0;% — Brightleaf — PDF vers JPG</translation>
    </message>
    <message>
        <source>Cancelling after the current page…</source>
        <translation>Annulation après la page en cours…</translation>
    </message>
    <message>
        <source>Starting 1 file…</source>
        <translation>Début de la conversion de 1 fichier…</translation>
    </message>
    <message>
        <source>Starting %1 files…</source>
        <translation>Début de la conversion de %1 fichiers…</translation>
    </message>
    <message>
        <source>Converting %1 (file %2 of %3)…</source>
        <translation>Conversion de %1 (fichier %2 sur %3)…</translation>
    </message>
    <message>
        <source>Converting %1 (file %2 of %3) — page %4 of %5</source>
        <translation>Conversion de %1 (fichier %2 sur %3) — page %4 sur %5</translation>
    </message>
    <message>
        <source>Conversion stopped</source>
        <translation>Conversion interrompue</translation>
    </message>
    <message>
        <source>Conversion finished</source>
        <translation>Conversion terminée</translation>
    </message>
    <message>
        <source>The full licence texts are in the “licenses” folder next to the application.</source>
        <translation>Les textes complets des licences se trouvent dans le dossier «&#xa0;licenses&#xa0;» à côté de l’application.</translation>
    </message>
    <message>
        <source>The full licence texts are in %1.</source>
        <translation>Les textes complets des licences se trouvent dans %1.</translation>
    </message>
    <message>
        <source>&lt;p&gt;&lt;b&gt;Brightleaf&lt;/b&gt; %1&lt;br&gt;This is a preview build, not for production use.&lt;br&gt;Copyright © The Brightleaf authors. Brightleaf is released under the MIT licence.&lt;/p&gt;&lt;p&gt;Brightleaf converts PDF pages to JPG images on this computer. Your files are not uploaded.&lt;/p&gt;&lt;p&gt;PDF rendering by PDFium %2, JPEG encoding by libjpeg-turbo %3 and the user interface by Qt %4. Qt is used under the GNU Lesser General Public License version 3 (LGPL v3); PDFium and libjpeg-turbo under their own open-source licences. The Qt libraries shipped with this application may be replaced with other versions.&lt;/p&gt;&lt;p&gt;Portions of this software are copyright © The FreeType Project (www.freetype.org). All rights reserved.&lt;/p&gt;&lt;p&gt;This software is based in part on the work of the Independent JPEG Group.&lt;/p&gt;</source>
        <translation>&lt;p&gt;&lt;b&gt;Brightleaf&lt;/b&gt; %1&lt;br&gt;Ceci est une version préliminaire, à ne pas utiliser en production.&lt;br&gt;Copyright © The Brightleaf authors. Brightleaf est distribué sous la licence MIT.&lt;/p&gt;&lt;p&gt;Brightleaf convertit des pages PDF en images JPG sur cet ordinateur. Vos fichiers ne sont envoyés nulle part.&lt;/p&gt;&lt;p&gt;Rendu PDF par PDFium %2, encodage JPEG par libjpeg-turbo %3 et interface utilisateur par Qt %4. Qt est utilisé sous la GNU Lesser General Public License version 3 (LGPL v3)&#xa0;; PDFium et libjpeg-turbo sous leurs propres licences libres. Les bibliothèques Qt fournies avec cette application peuvent être remplacées par d’autres versions.&lt;/p&gt;&lt;p&gt;Portions of this software are copyright © The FreeType Project (www.freetype.org). All rights reserved.&lt;/p&gt;&lt;p&gt;This software is based in part on the work of the Independent JPEG Group.&lt;/p&gt;</translation>
    </message>
    <message numerus="yes">
        <source>PDF files are opened and drawn by up to %n sandboxed helper processes at once (sandbox: %1).</source>
        <translation>
            <numerusform>Les fichiers PDF sont ouverts et rendus par %n processus auxiliaire isolé (bac à sable&#xa0;: %1).</numerusform>
            <numerusform>Jusqu’à %n processus auxiliaires isolés ouvrent et rendent les fichiers PDF en parallèle (bac à sable&#xa0;: %1).</numerusform>
        </translation>
    </message>
    <message>
        <source>About Brightleaf</source>
        <translation>À propos de Brightleaf</translation>
    </message>
    <message>
        <source>Conversion in progress</source>
        <translation>Conversion en cours</translation>
    </message>
    <message>
        <source>A conversion is still running. Stop it and quit? Pages already saved are kept.</source>
        <translation>Une conversion est encore en cours. L’arrêter et quitter&#xa0;? Les pages déjà enregistrées sont conservées.</translation>
    </message>
    <message>
        <source>Estimated from a few pages of each file, converted in memory with the current settings.</source>
        <translation>Estimation tirée de quelques pages de chaque fichier, converties en mémoire avec les paramètres actuels.</translation>
    </message>
</context>
<context>
    <name>bl::desktop::OutputEstimator</name>
    <message>
        <source>Estimating the size of the images…</source>
        <translation>Estimation de la taille des images…</translation>
    </message>
    <message>
        <source>The size of the images could not be estimated.</source>
        <translation>La taille des images n’a pas pu être estimée.</translation>
    </message>
    <message>
        <source>About %1 for 1 image</source>
        <translation>Environ %1 pour 1 image</translation>
    </message>
    <message>
        <source>About %1 for %2 images</source>
        <translation>Environ %1 pour %2 images</translation>
    </message>
    <message>
        <source>(1 file not counted)</source>
        <translation>(1 fichier non compté)</translation>
    </message>
    <message>
        <source>(%1 files not counted)</source>
        <translation>(%1 fichiers non comptés)</translation>
    </message>
</context>
<context>
    <name>bl::desktop::PageListModel</name>
    <message>
        <source>Page %1, selected</source>
        <translation>Page %1, sélectionnée</translation>
    </message>
    <message>
        <source>Page %1, not selected</source>
        <translation>Page %1, non sélectionnée</translation>
    </message>
</context>
<context>
    <name>bl::desktop::PagePane</name>
    <message>
        <source>Preview</source>
        <translation>Aperçu</translation>
    </message>
    <message>
        <source>Click a page to include or leave it out; double-click to preview it.</source>
        <translation>Cliquez sur une page pour l’inclure ou l’exclure&#xa0;; double-cliquez pour en voir l’aperçu.</translation>
    </message>
    <message>
        <source>Select a file in the list to see its pages here.</source>
        <translation>Sélectionnez un fichier dans la liste pour voir ses pages ici.</translation>
    </message>
    <message>
        <source>Checking the file…</source>
        <translation>Vérification du fichier…</translation>
    </message>
    <message>
        <source>This file is password-protected, so its pages are not shown.</source>
        <translation>Ce fichier est protégé par un mot de passe&#xa0;; ses pages ne sont donc pas affichées.</translation>
    </message>
    <message>
        <source>This file has no pages to show.</source>
        <translation>Ce fichier n’a aucune page à afficher.</translation>
    </message>
</context>
<context>
    <name>bl::desktop::PagePreview</name>
    <message>
        <source>%1 × %2 pixels · %3 · %4 DPI, JPEG quality %5</source>
        <translation>%1 × %2 pixels · %3 · %4 DPI, qualité JPEG %5</translation>
    </message>
    <message>
        <source>&amp;Fit to window</source>
        <translation>Ajuster à la &amp;fenêtre</translation>
    </message>
    <message>
        <source>&amp;Actual size (100 %)</source>
        <translation>&amp;Taille réelle (100&#xa0;%)</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Fermer</translation>
    </message>
    <message>
        <source>Page as it will be saved</source>
        <translation>Page telle qu’elle sera enregistrée</translation>
    </message>
    <message>
        <source>Scroll the page</source>
        <translation>Faire défiler la page</translation>
    </message>
    <message>
        <source>Scroll the page sideways</source>
        <translation>Faire défiler la page horizontalement</translation>
    </message>
    <message>
        <source>Page %1 of %2 — %3</source>
        <translation>Page %1 sur %2 — %3</translation>
    </message>
    <message>
        <source>Drawing page %1 as it will be saved…</source>
        <translation>Dessin de la page %1 telle qu’elle sera enregistrée…</translation>
    </message>
</context>
<context>
    <name>bl::desktop::PageView</name>
    <message>
        <source>Pages of the selected file</source>
        <translation>Pages du fichier sélectionné</translation>
    </message>
    <message>
        <source>Space includes or leaves out a page; Enter shows it as it will be saved</source>
        <translation>Espace inclut ou exclut une page&#xa0;; Entrée l’affiche telle qu’elle sera enregistrée</translation>
    </message>
    <message>
        <source>Scroll the pages</source>
        <translation>Faire défiler les pages</translation>
    </message>
    <message>
        <source>Scroll the pages sideways</source>
        <translation>Faire défiler les pages horizontalement</translation>
    </message>
</context>
<context>
    <name>bl::desktop::RunPrompts</name>
    <message>
        <source>Password required</source>
        <translation>Mot de passe requis</translation>
    </message>
    <message>
        <source>That password did not open “%1”. Try again:</source>
        <translation>Ce mot de passe n’a pas permis d’ouvrir «&#xa0;%1&#xa0;». Réessayez&#xa0;:</translation>
    </message>
    <message>
        <source>“%1” is password-protected. Enter its password to convert it:</source>
        <translation>«&#xa0;%1&#xa0;» est protégé par un mot de passe. Saisissez-le pour convertir le fichier&#xa0;:</translation>
    </message>
    <message>
        <source>Convert</source>
        <translation>Convertir</translation>
    </message>
    <message>
        <source>Skip this file</source>
        <translation>Ignorer ce fichier</translation>
    </message>
    <message>
        <source>Files already exist</source>
        <translation>Des fichiers existent déjà</translation>
    </message>
    <message>
        <source>Your choice applies to the rest of this conversion.</source>
        <translation>Votre choix s’applique à toute la suite de cette conversion.</translation>
    </message>
    <message>
        <source>Replace</source>
        <translation>Remplacer</translation>
    </message>
    <message>
        <source>Keep both</source>
        <translation>Conserver les deux</translation>
    </message>
</context>
<context>
    <name>bl::desktop::SettingsPanel</name>
    <message>
        <source>Show advanced settings</source>
        <translation>Afficher les paramètres avancés</translation>
    </message>
    <message>
        <source>Advanced settings</source>
        <translation>Paramètres avancés</translation>
    </message>
    <message>
        <source>Scroll the settings</source>
        <translation>Faire défiler les paramètres</translation>
    </message>
    <message>
        <source>Pages</source>
        <translation>Pages</translation>
    </message>
    <message>
        <source>All pages</source>
        <translation>Toutes les pages</translation>
    </message>
    <message>
        <source>Selected pages:</source>
        <translation>Pages choisies&#xa0;:</translation>
    </message>
    <message>
        <source>e.g. 1-3, 5, 8-</source>
        <translation>p.&#xa0;ex. 1-3, 5, 8-</translation>
    </message>
    <message>
        <source>Page selection</source>
        <translation>Sélection de pages</translation>
    </message>
    <message>
        <source>Every page of each file is converted.</source>
        <translation>Toutes les pages de chaque fichier sont converties.</translation>
    </message>
    <message>
        <source>Quality</source>
        <translation>Qualité</translation>
    </message>
    <message>
        <source>Resolution preset</source>
        <translation>Résolution prédéfinie</translation>
    </message>
    <message>
        <source>72 DPI — smallest files, on-screen previews</source>
        <translation>72 DPI — fichiers minimaux, aperçus à l’écran</translation>
    </message>
    <message>
        <source>96 DPI — screen viewing</source>
        <translation>96 DPI — affichage à l’écran</translation>
    </message>
    <message>
        <source>150 DPI — balanced (recommended)</source>
        <translation>150 DPI — équilibré (recommandé)</translation>
    </message>
    <message>
        <source>200 DPI — sharper text</source>
        <translation>200 DPI — texte plus net</translation>
    </message>
    <message>
        <source>300 DPI — high detail, larger files</source>
        <translation>300 DPI — très détaillé, fichiers plus lourds</translation>
    </message>
    <message>
        <source>600 DPI — print quality, very large files</source>
        <translation>600 DPI — qualité impression, fichiers très lourds</translation>
    </message>
    <message>
        <source>Custom (set in Advanced)</source>
        <translation>Personnalisée (dans les paramètres avancés)</translation>
    </message>
    <message>
        <source>Higher DPI gives more detail and larger files.</source>
        <translation>Plus de DPI, c’est plus de détails et des fichiers plus lourds.</translation>
    </message>
    <message>
        <source> DPI</source>
        <translation> DPI</translation>
    </message>
    <message>
        <source>Resolution in DPI</source>
        <translation>Résolution en DPI</translation>
    </message>
    <message>
        <source>Resolution:</source>
        <translation>Résolution&#xa0;:</translation>
    </message>
    <message>
        <source>JPEG quality</source>
        <translation>Qualité JPEG</translation>
    </message>
    <message>
        <source>Higher means sharper and larger files. 90 is a good default.</source>
        <translation>Plus la valeur est haute, plus l’image est nette et le fichier lourd. 90 est un bon choix par défaut.</translation>
    </message>
    <message>
        <source>JPEG quality (1–100):</source>
        <translation>Qualité JPEG (1–100)&#xa0;:</translation>
    </message>
    <message>
        <source>Background colour for transparent areas</source>
        <translation>Couleur de fond des zones transparentes</translation>
    </message>
    <message>
        <source>Background:</source>
        <translation>Fond&#xa0;:</translation>
    </message>
    <message>
        <source>File naming template</source>
        <translation>Modèle de nom de fichier</translation>
    </message>
    <message>
        <source>Tokens: {original}, {page_number}, {page_number:0001}, {page_count}, {dpi}</source>
        <translation>Variables&#xa0;: {original}, {page_number}, {page_number:0001}, {page_count}, {dpi}</translation>
    </message>
    <message>
        <source>File names:</source>
        <translation>Noms de fichier&#xa0;:</translation>
    </message>
    <message>
        <source>When a file already exists</source>
        <translation>Si un fichier existe déjà</translation>
    </message>
    <message>
        <source>Ask me</source>
        <translation>Me demander</translation>
    </message>
    <message>
        <source>Replace existing files</source>
        <translation>Remplacer les fichiers existants</translation>
    </message>
    <message>
        <source>Keep both (add a number)</source>
        <translation>Conserver les deux (ajouter un numéro)</translation>
    </message>
    <message>
        <source>If a file exists:</source>
        <translation>Fichier existant&#xa0;:</translation>
    </message>
    <message>
        <source>Also create a ZIP of each file&apos;s pages</source>
        <translation>Créer aussi un ZIP par fichier</translation>
    </message>
    <message>
        <source>Include comments and stamps (annotations)</source>
        <translation>Avec commentaires et tampons (annotations)</translation>
    </message>
    <message>
        <source>Include filled-in form fields</source>
        <translation>Avec les champs de formulaire remplis</translation>
    </message>
    <message>
        <source>Save to</source>
        <translation>Enregistrer dans</translation>
    </message>
    <message>
        <source>Choose a folder for the images</source>
        <translation>Choisissez un dossier pour les images</translation>
    </message>
    <message>
        <source>Output folder</source>
        <translation>Dossier de sortie</translation>
    </message>
    <message>
        <source>&amp;Choose folder…</source>
        <translation>&amp;Choisir un dossier…</translation>
    </message>
    <message>
        <source>Remember this folder next time</source>
        <translation>Retenir ce dossier pour la prochaine fois</translation>
    </message>
    <message>
        <source>Hide advanced settings</source>
        <translation>Masquer les paramètres avancés</translation>
    </message>
    <message>
        <source>White</source>
        <translation>Blanc</translation>
    </message>
    <message>
        <source>Background colour: %1</source>
        <translation>Couleur de fond&#xa0;: %1</translation>
    </message>
    <message>
        <source>Background for transparent areas</source>
        <translation>Fond des zones transparentes</translation>
    </message>
    <message>
        <source>Choose where to save the images</source>
        <translation>Choisir où enregistrer les images</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1&#xa0;: %2</translation>
    </message>
    <message>
        <source>Problem: %1</source>
        <translation>Problème&#xa0;: %1</translation>
    </message>
    <message>
        <source>Pages are numbered from 1. Use commas and ranges.</source>
        <translation>Les pages sont numérotées à partir de 1. Utilisez des virgules et des plages.</translation>
    </message>
    <message>
        <source>Example: %1.jpg</source>
        <translation>Exemple&#xa0;: %1.jpg</translation>
    </message>
    <message>
        <source>First page of %1: %2 × %3 pixels</source>
        <translation>Première page de %1&#xa0;: %2 × %3 pixels</translation>
    </message>
</context>
</TS>
